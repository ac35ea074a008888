#include "prep/write_outputs.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "files/input_file.h"
#include "formats/pal.h"
#include "formats/png.h"
#include "formats/prep_memory.h"
#include "formats/tex_tga.h"
#include "formats/tga.h"
#include "shell/messages.h"
#include "shell/outputs.h"
#include "shell/prep_memory.h"
#include "shell/report.h"
#include "shell/steps.h"

namespace {

/// skinprep's set, each file by what it is.
struct PrepSet {
  SetOutput palette;
  std::array<SetOutput, kTexLevelCount> levels;
  SetOutput memory;
  SetOutput preview;

  /// The files skinweld welds, in the order they are put in place.
  std::vector<SetOutput*> welded() {
    std::vector<SetOutput*> files = {&palette};
    for (SetOutput& level : levels)
      files.push_back(&level);
    return files;
  }
  /// All of them: the welded ones first, then the memory and the page.
  std::vector<SetOutput*> all() {
    std::vector<SetOutput*> files = welded();
    files.insert(files.end(), {&memory, &preview});
    return files;
  }
};

/// What skinprep says while it saves an output: "Saving KIND NAME...".
SaveWords words_for(const SetOutput& output, const char* kind,
                    const char* write_failed = kWriteDataFailed) {
  return {std::string("Saving ") + kind + " " + output.name + "...", "failed.\n",
          "ERROR! Could not create " + output.name + " ", output.name, write_failed};
}

bool save_palette_file(SetOutput& output, const TexPalette& palette) {
  return save_output(output, words_for(output, "palette", "\nERROR! Could not write palette! "),
                     [&](ByteBuffer& bytes) {
                       write_pal_header(bytes);
                       write_pal_entries(bytes, palette);
                       write_pal_terminator(bytes);
                       return true;
                     });
}

/// Saves level n of the match as an 8-bit image with the palette's colours.
bool save_level(SetOutput& output, const Match& m, std::size_t n) {
  const auto x = static_cast<unsigned>(m.image.width);
  const auto y = static_cast<unsigned>(m.image.height);
  const TexSize size = tex_level_size(x, y, n);
  const TexPalette& palette = m.setting.palette;
  return save_output(output, words_for(output, "image"), [&](ByteBuffer& bytes) {
    write_tga_header(bytes,
                     tga_header_for_subtype(TexSubtype::indexed, static_cast<std::uint16_t>(size.x),
                                            static_cast<std::uint16_t>(size.y)));
    write_tga_colour_map(bytes, palette);
    write_tga_pixels(bytes, TexSubtype::indexed, tex_level(*m.result, n, x, y), palette);
    return true;
  });
}

/// The checksum of the TEX file skinweld welds from the set: the header it
/// writes (the image's size, and the header bytes it keeps of the TEX file
/// there now) before the palette and levels, whose checksum is body.
std::uint32_t welded_checksum(const Match& m, std::uint32_t body) {
  TexHeader header;
  header.x_size = static_cast<std::uint16_t>(m.image.width);
  header.y_size = static_cast<std::uint16_t>(m.image.height);
  header.tail = m.old.found ? m.old.tail : kTexDefaultTail;
  ByteBuffer bytes;
  write_tex_header(bytes, header);
  const std::size_t length = tex_written_length(header.x_size, header.y_size) - kTexHeaderSize;
  return crc32_joined(crc32_of(bytes), body, length);
}

/// Saves the memory of this prepare: the picture as the image showed it, and
/// by their checksums what was read and what was written (page is the
/// preview page's bytes).
bool save_memory(PrepSet& set, const Match& m, const ByteBuffer& page) {
  PrepMemory memory;
  memory.width = m.image.width;
  memory.height = m.image.height;
  memory.colours = wanted_colours(m);
  memory.options = policy_word(m.policy);
  memory.palette_file = m.palette_file_seen;
  memory.image = m.image_seen;
  memory.picture = m.picture_seen;
  memory.texture_read = m.old.checksum;
  memory.palette = crc32_of(set.palette.file.bytes());
  for (std::size_t n = 0; n < kTexLevelCount; ++n)
    memory.levels[n] = crc32_of(set.levels[n].file.bytes());
  memory.texture =
      texture_checksum(m.setting.palette, *m.result, static_cast<unsigned>(m.image.width),
                       static_cast<unsigned>(m.image.height));
  memory.texture_welded = welded_checksum(m, memory.texture);
  memory.page = crc32_of(page);
  memory.warnings = m.warnings.of_set;
  memory.texture_warnings = m.warnings.of_texture;
  return save_output(set.memory, words_for(set.memory, "picture"),
                     [&](ByteBuffer& bytes) { return write_prep_memory(bytes, memory); });
}

/// Whether a file of the set was made or changed by hand since skinprep
/// wrote it: its bytes are not what the memory says skinprep wrote there
/// (written), or, without a memory, it is newer than the image read.
bool edited_by_hand(const std::string& path, std::uint32_t written, const ImageFile& image,
                    const Match& m) {
  if (!file_exists(path)) return false;
  if (memory_read(m.memory_use)) return file_checksum(path) != written;
  return compare_modification_times(path, image.name) > 0;
}

/// Names one file of the set by the name it has in the image directory (in
/// any case), to be kept first where it was edited by hand (see
/// edited_by_hand; the memory and the page are only ever replaced).
bool name_file(const TextureFiles& files, const std::string& name,
               const std::function<bool(const std::string& path)>& edited, SetOutput& output) {
  std::string path = files.image_directory + "/" + name;
  if (!resolve_names({&path})) return false;
  output.name = path.substr(files.image_directory.size() + 1);
  output.keep_edits = edited && edited(path);
  return true;
}

bool name_set(const TextureFiles& files, const ImageFile& image, const Match& m, PrepSet& set) {
  const auto written = [&](std::uint32_t checksum) {
    return [&image, &m, checksum](const std::string& path) {
      return edited_by_hand(path, checksum, image, m);
    };
  };
  if (!name_file(files, files.level_palette, written(m.memory.palette), set.palette)) return false;
  for (std::size_t n = 0; n < kTexLevelCount; ++n) {
    if (!name_file(files, files.levels[n], written(m.memory.levels[n]), set.levels[n]))
      return false;
  }
  return name_file(files, files.memory, nullptr, set.memory) &&
         name_file(files, files.preview, nullptr, set.preview);
}

}  // namespace

bool write_image_directory(const TextureFiles& files, const ImageFile& image, const Match& m,
                           const PageWriter& write_page) {
  const std::string& directory = files.image_directory;
  // The files belong together: skinweld would weld a new palette with old
  // images into a texture that is neither. All are replaced, or none.
  PrepSet set;
  if (!name_set(files, image, m, set)) return false;
  print_progress("%s directory %s\n", file_exists(directory) ? "Using" : "Creating",
                 directory.c_str());
  if (!create_and_enter_directory(directory,
                                  "ERROR! Could not create directory " + directory + "! ") ||
      !save_palette_file(set.palette, m.setting.palette))
    return false;
  for (std::size_t n = 0; n < kTexLevelCount; ++n) {
    if (!save_level(set.levels[n], m, n)) return false;
  }
  // A picture of no pixels has nothing to remember, and no PNG can hold it.
  if (m.image.colours.empty()) return put_set_in_place(set.welded(), directory, files.prep_record);
  // The page is made first: the memory keeps its checksum.
  ByteBuffer page;
  return write_page(page) && save_memory(set, m, page) &&
         save_output(set.preview, words_for(set.preview, "preview"),
                     [&](ByteBuffer& bytes) {
                       put_bytes(bytes, page);
                       return true;
                     }) &&
         put_set_in_place(set.all(), directory, files.prep_record);
}
