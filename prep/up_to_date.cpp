#include "prep/up_to_date.h"

#include <cstdint>
#include <optional>
#include <string>

#include "prep/summary.h"
#include "shell/prep_memory.h"
#include "shell/report.h"

namespace {

/// Whether a file of the image directory holds what the memory says was written.
bool holds_what_was_written(const TextureFiles& files, const std::string& name,
                            std::uint32_t written) {
  return file_checksum(files.image_directory + "/" + name) == written;
}

/// Whether every file of the set is as the last prepare wrote it.
bool set_as_written(const TextureFiles& files, const PrepMemory& memory) {
  if (!holds_what_was_written(files, files.level_palette, memory.palette)) return false;
  for (std::size_t n = 0; n < kTexLevelCount; ++n) {
    if (!holds_what_was_written(files, files.levels[n], memory.levels[n])) return false;
  }
  return holds_what_was_written(files, files.preview, memory.page);
}

/// Prints each warning again (they end in their line end).
void repeat(const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings)
    print_error("%s", warning.c_str());
}

}  // namespace

bool set_is_up_to_date(const TextureFiles& files, const ImageFile& image, PalettePolicy policy,
                       const LockedTexture& lock) {
  PrepMemory memory;
  // The cheapest checks first, and those most likely to fail: an edit is
  // in the image.
  if (read_prep_memory_record_file(files.image_directory + "/" + files.memory, memory) !=
          MemoryRead::ok ||
      memory.options != policy_word(policy) || file_checksum(image.name) != memory.image ||
      file_checksum(files.edited_palette) != memory.palette_file)
    return false;
  const std::optional<std::uint32_t> texture = file_checksum(files.tex);
  const bool as_read = texture == memory.texture_read;
  if ((!as_read && texture != memory.texture_welded) || !set_as_written(files, memory))
    return false;
  repeat(memory.warnings);
  if (as_read) repeat(memory.texture_warnings);
  warn_of_unread_pictures(files, image, lock);
  return true;
}
