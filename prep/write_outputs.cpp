#include "prep/write_outputs.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "files/output_file.h"
#include "formats/pal.h"
#include "formats/tga.h"
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

bool save_palette_file(OutputFile& out, const std::string& name, const TexPalette& palette) {
  print_progress("Saving palette %s...", name.c_str());
  if (!open_output(out, name)) return false;
  if (!write_pal_header(out.stream()) || !write_pal_entries(out.stream(), palette) ||
      !write_pal_terminator(out.stream()) || !out.finish()) {
    print_system_error("\nERROR! Could not write palette! ");
    return false;
  }
  print_progress("done!\n");
  return true;
}

bool save_level(OutputFile& out, const std::string& name, std::size_t width, std::size_t height,
                std::span<const unsigned char> level, const TexPalette& palette) {
  print_progress("Saving image %s...", name.c_str());
  if (!open_output(out, name)) return false;
  const TgaHeader header = tga_header_for_subtype(
      TexSubtype::indexed, static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height));
  if (!write_tga_header(out.stream(), header) || !write_tga_colour_map(out.stream(), palette) ||
      !write_tga_pixels(out.stream(), TexSubtype::indexed, level.first(width * height), palette) ||
      !out.finish()) {
    print_system_error("\nERROR! Could not write data! ");
    return false;
  }
  print_progress("done!\n");
  return true;
}

}  // namespace

bool write_image_directory(const TextureFiles& files, std::size_t width, std::size_t height,
                           const TexLevels& levels, const TexPalette& palette) {
  const std::string& directory = files.image_directory;
  print_progress("Creating directory %s\n", directory.c_str());
  if (!create_and_enter_directory(directory,
                                  "ERROR! Could not create directory " + directory + "! "))
    return false;
  // The four files belong together: skinweld would weld a new palette with
  // old images into a texture that is neither. All are replaced, or none.
  std::array<OutputFile, 4> out;
  if (!save_palette_file(out[0], files.level_palette, palette) ||
      !save_level(out[1], files.levels[0], width, height, levels.high, palette) ||
      !save_level(out[2], files.levels[1], width / 2, height / 2, levels.medium, palette) ||
      !save_level(out[3], files.levels[2], width / 4, height / 4, levels.low, palette))
    return false;
  std::array<OutputFile*, 4> set{};
  for (std::size_t n = 0; n < out.size(); ++n)
    set[n] = &out[n];
  return put_in_place(set);
}
