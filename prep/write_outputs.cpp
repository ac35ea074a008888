#include "prep/write_outputs.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "files/output_file.h"
#include "formats/pal.h"
#include "formats/tex_tga.h"
#include "formats/tga.h"
#include "shell/messages.h"
#include "shell/report.h"
#include "shell/steps.h"

namespace {

/// Opens an output after its "Saving ..." line, reporting a failure.
bool open_output(OutputFile& out, const std::string& name) {
  if (out.open(name)) return true;
  print_progress("failed.\n");
  print_system_error(("ERROR! Could not create " + name + " ").c_str());
  return false;
}

bool save_palette_file(SetOutput& output, const TexPalette& palette) {
  print_progress("Saving palette %s...", output.name.c_str());
  if (!open_output(output.file, output.name)) return false;
  ByteBuffer& bytes = output.file.bytes();
  write_pal_header(bytes);
  write_pal_entries(bytes, palette);
  write_pal_terminator(bytes);
  if (!output.file.finish()) {
    print_system_error("\nERROR! Could not write palette! ");
    return false;
  }
  print_progress("done!\n");
  return true;
}

/// Saves level n of the match as an 8-bit image with the palette's colours.
bool save_level(SetOutput& output, const Match& m, std::size_t n) {
  print_progress("Saving image %s...", output.name.c_str());
  if (!open_output(output.file, output.name)) return false;
  const auto x = static_cast<unsigned>(m.image.width);
  const auto y = static_cast<unsigned>(m.image.height);
  const TexSize size = tex_level_size(x, y, n);
  const TexPalette& palette = m.setting.palette;
  ByteBuffer& bytes = output.file.bytes();
  write_tga_header(bytes, tga_header_for_subtype(TexSubtype::indexed,
                                                 static_cast<std::uint16_t>(size.x),
                                                 static_cast<std::uint16_t>(size.y)));
  write_tga_colour_map(bytes, palette);
  write_tga_pixels(bytes, TexSubtype::indexed, tex_level(*m.result, n, x, y), palette);
  if (!output.file.finish()) {
    print_system_error(kWriteDataFailed);
    return false;
  }
  print_progress("done!\n");
  return true;
}

}  // namespace

bool write_image_directory(const TextureFiles& files, const Match& m) {
  const std::string& directory = files.image_directory;
  print_progress("Creating directory %s\n", directory.c_str());
  if (!create_and_enter_directory(directory,
                                  "ERROR! Could not create directory " + directory + "! "))
    return false;
  // The four files belong together: skinweld would weld a new palette with
  // old images into a texture that is neither. All are replaced, or none.
  std::array<SetOutput, 1 + kTexLevelCount> set = {
      SetOutput{files.level_palette, {}, false}, SetOutput{files.levels[0], {}, false},
      SetOutput{files.levels[1], {}, false}, SetOutput{files.levels[2], {}, false}};
  if (!save_palette_file(set[0], m.setting.palette)) return false;
  const std::span<SetOutput> levels = std::span(set).subspan(1);
  for (std::size_t n = 0; n < levels.size(); ++n) {
    if (!save_level(levels[n], m, n)) return false;
  }
  return put_set_in_place(set, directory);
}
