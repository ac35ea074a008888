#include "prep/write_outputs.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "files/input_file.h"
#include "formats/pal.h"
#include "formats/png.h"
#include "formats/tex_tga.h"
#include "formats/tga.h"
#include "prep/preview.h"
#include "shell/messages.h"
#include "shell/outputs.h"
#include "shell/report.h"
#include "shell/steps.h"

namespace {

/// Opens an output after its "Saving ..." line, reporting a failure.
bool open_output(OutputFile& out, const std::string& name) {
  if (open_output_file(out, name)) return true;
  print_progress("failed.\n");
  report_output_not_opened(out, name, "ERROR! Could not create " + name + " ");
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
  write_tga_header(bytes,
                   tga_header_for_subtype(TexSubtype::indexed, static_cast<std::uint16_t>(size.x),
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

/// Saves the memory of this prepare: the picture as the image showed it, the
/// palette file it saw, and a checksum of each file of the set.
bool save_memory(std::span<SetOutput> set, const Match& m) {
  SetOutput& output = set[kSetFiles];
  print_progress("Saving picture %s...", output.name.c_str());
  if (!open_output(output.file, output.name)) return false;
  PrepMemory memory;
  memory.width = m.image.width;
  memory.height = m.image.height;
  memory.alpha = m.image.has_alpha;
  memory.colours = m.image.colours;
  memory.palette_file = m.palette_file_seen;
  for (std::size_t n = 0; n < kSetFiles; ++n)
    memory.set[n] = crc32_of(set[n].file.bytes());
  memory.texture =
      texture_checksum(m.setting.palette, *m.result, static_cast<unsigned>(m.image.width),
                       static_cast<unsigned>(m.image.height));
  if (!write_prep_memory(output.file.bytes(), memory) || !output.file.finish()) {
    print_system_error(kWriteDataFailed);
    return false;
  }
  print_progress("done!\n");
  return true;
}

/// Saves the page that shows what this prepare made.
bool save_preview(SetOutput& output, const Match& m, const std::string& title,
                  const std::string& summary) {
  print_progress("Saving preview %s...", output.name.c_str());
  if (!open_output(output.file, output.name)) return false;
  if (!write_preview(output.file.bytes(), m, title, summary) || !output.file.finish()) {
    print_system_error(kWriteDataFailed);
    return false;
  }
  print_progress("done!\n");
  return true;
}

/// Whether a file of the set was made or changed by hand since skinprep
/// wrote it: its bytes are not what the memory says skinprep wrote there,
/// or, without a memory, it is newer than the image read.
bool edited_by_hand(const std::string& path, std::size_t n, const ImageFile& image,
                    const Match& m) {
  if (!file_exists(path)) return false;
  if (m.memory_use != MemoryUse::absent && m.memory_use != MemoryUse::unreadable)
    return file_checksum(path) != m.memory.set[n];
  return compare_modification_times(path, image.name) > 0;
}

/// The files of the set by the names they have in the image directory (in
/// any case), each to be kept first where it was edited by hand.
bool name_set(const TextureFiles& files, const ImageFile& image, const Match& m,
              std::span<SetOutput> set) {
  const std::array<std::string, kSetFiles + 2> names = {files.level_palette, files.levels[0],
                                                        files.levels[1],     files.levels[2],
                                                        files.memory,        files.preview};
  for (std::size_t n = 0; n < set.size(); ++n) {
    std::string path = files.image_directory + "/" + names[n];
    if (!resolve_names({&path})) return false;
    set[n].name = path.substr(files.image_directory.size() + 1);
    set[n].keep_edits = n < kSetFiles && edited_by_hand(path, n, image, m);
  }
  return true;
}

}  // namespace

bool write_image_directory(const TextureFiles& files, const ImageFile& image, const Match& m,
                           const std::string& summary) {
  const std::string& directory = files.image_directory;
  // The files belong together: skinweld would weld a new palette with old
  // images into a texture that is neither. All are replaced, or none.
  std::array<SetOutput, kSetFiles + 2> set;
  if (!name_set(files, image, m, set)) return false;
  print_progress("Creating directory %s\n", directory.c_str());
  if (!create_and_enter_directory(directory,
                                  "ERROR! Could not create directory " + directory + "! ") ||
      !save_palette_file(set[0], m.setting.palette))
    return false;
  for (std::size_t n = 0; n < kTexLevelCount; ++n) {
    if (!save_level(set[1 + n], m, n)) return false;
  }
  // A picture of no pixels has nothing to remember, and no PNG can hold it.
  if (m.image.colours.empty())
    return put_set_in_place(std::span(set).first(kSetFiles), directory, files.prep_record);
  return save_memory(set, m) &&
         save_preview(set.back(), m, files.image_directory + ": " + image.name, summary) &&
         put_set_in_place(set, directory, files.prep_record);
}
