#include "weld/weld_warnings.h"

#include <array>
#include <string>

#include "files/input_file.h"
#include "shell/edited_image.h"
#include "shell/prep_memory.h"
#include "shell/report.h"
#include "shell/steps.h"

namespace {

/// The picture the warnings read, and the memory's, sized for 512 × 512.
struct WarningArea {
  ImageArea edited;
  std::array<unsigned char, kTexMaxPixels * 4> remembered;
};
WarningArea area;

/// skinprep's memory as read: its file, and what its record says (its
/// pixels decoded only when a warning needs them).
struct Remembered {
  std::string file;
  PrepMemory memory;
};

/// Warns that an edit is not in the texture: file was changed since the
/// image directory was prepared from it.
void warn_not_prepared(const std::string& file, const char* why, const TextureName& name) {
  print_error("WARNING! %s %s: the edit is not in this texture; run skinprep %s first.\n",
              file.c_str(), why, name.base.c_str());
}

/// Whether a pixel of a picture shows a colour: the same colour, and the
/// same alpha where the picture has alpha of its own.
bool shows(const EditedImage& picture, std::size_t k, Rgba colour) {
  Rgba is = picture.colours[k];
  if (!picture.has_alpha) colour[3] = is[3] = 255;
  return shows_the_same(colour, is);
}

/// Whether the picture skinprep would read now holds a picture the set does
/// not: another file than it read, of another picture, with a pixel that
/// shows neither what it asked for then nor what the texture shows (a new
/// split of it). A picture that cannot be read tells nothing. The memory's
/// pixels are decoded (from the file remembered) only when the picture
/// differs: the common case costs a checksum.
bool picture_not_in_set(const ImageFile& image, Remembered& remembered,
                        const WeldedTexture& texture) {
  PrepMemory& memory = remembered.memory;
  if (file_checksum(image.name) == memory.image) return false;
  const ConsoleSilence quiet;  // the reading's words are skinprep's
  ImageFile read = image;
  EditedImage edited;
  if (!read_edited_image(area.edited, read, edited)) return false;
  if (picture_checksum(edited) == memory.picture) return false;
  if (read_prep_memory_file(remembered.file, area.remembered, memory) != MemoryRead::ok)
    return false;
  if (edited.width != memory.width || edited.height != memory.height) return true;
  const bool expanded = tex_is_expanded(static_cast<TexSubtype>(texture.header.tail[0]));
  const bool same_size =
      edited.width == texture.header.x_size && edited.height == texture.header.y_size;
  for (std::size_t k = 0; k < edited.colours.size(); ++k) {
    if (shows(edited, k, memory.colours[k])) continue;
    if (!same_size ||
        !shows(edited, k, tex_entry_colour(texture.palette[texture.high[k]], expanded)))
      return true;
  }
  return false;
}

/// The copy kept as NAME~N of the image (tga or png) that holds the file
/// the set was prepared from, where there is one.
std::string kept_copy_prepared(const TextureFiles& files, const PrepMemory& memory) {
  for (const std::string* name : {&files.edited_image, &files.edited_png}) {
    for (unsigned n = 1; n < 100; ++n) {
      std::string kept = numbered_name(*name, n);
      if (!file_exists(kept)) break;
      if (file_checksum(kept) == memory.image) return kept;
    }
  }
  return "";
}

/// Warns of a level that is not the one skinprep wrote: the others were made
/// for that one, and no longer follow it. A texture welded as skinprep said
/// it would be holds its levels (a plain re-save of one says nothing).
void warn_of_edited_levels(const TextureFiles& files, const PrepMemory& memory,
                           const WeldedTexture& texture) {
  if (texture.checksum == memory.texture_welded) return;
  for (std::size_t n = 0; n < kTexLevelCount; ++n) {
    const std::string level = files.image_directory + "/" + files.levels[n];
    if (file_checksum(level) == memory.levels[n]) continue;
    print_error(
        "WARNING! %s is not the level skinprep wrote; the other levels were made from "
        "the one it wrote.\n",
        level.c_str());
  }
}

/// With skinprep's memory: warns of a picture or palette file the set does
/// not hold, by content, so that a re-save or a new split of the texture
/// says nothing.
void warn_by_memory(const TextureName& name, const TextureFiles& files, Remembered& remembered,
                    const WeldedTexture& texture) {
  const PrepMemory& memory = remembered.memory;
  warn_of_edited_levels(files, memory, texture);
  ImageFile image;
  choose_image_file(files, "", image);
  if (picture_not_in_set(image, remembered, texture)) {
    const std::string kept = kept_copy_prepared(files, memory);
    if (kept.empty()) {
      warn_not_prepared(image.name, "has changed since it was prepared", name);
    } else {
      print_error(
          "WARNING! This texture holds the edit in %s, which %s took the place of; %s is "
          "not in it.\n",
          kept.c_str(), image.name.c_str(), image.name.c_str());
    }
  }
  const std::optional<std::uint32_t> palette = file_checksum(files.edited_palette);
  if (palette != memory.palette_file &&
      palette != file_checksum(files.image_directory + "/" + files.level_palette))
    warn_not_prepared(files.edited_palette, "has changed since it was prepared", name);
}

/// Tells when an edit the user made (to the picture skinprep reads or to
/// the palette file beside it) is not in the texture: with skinprep's
/// memory by content, without it by modification time against the high level.
void warn_of_unprepared_edits(const TextureName& name, const WeldedTexture& texture,
                              const std::vector<std::string>& split_names) {
  // The files as skinprep would find them, in any case; of two alike, the first.
  TextureFiles files = name.files;
  std::string other;
  for (std::string* file : {&files.edited_image, &files.edited_png, &files.edited_palette})
    *file = find_among(*file, split_names, other);
  Remembered remembered{find_in_any_case(files.image_directory + "/" + files.memory, other), {}};
  if (read_prep_memory_record_file(remembered.file, remembered.memory, MemoryTrust::record_only) ==
      MemoryRead::ok) {
    warn_by_memory(name, files, remembered, texture);
    return;
  }
  const std::string high = files.image_directory + "/" + files.levels[0];
  for (const std::string* edited :
       {&files.edited_image, &files.edited_png, &files.edited_palette}) {
    if (compare_modification_times(*edited, high) > 0)
      warn_not_prepared(*edited, ("is newer than " + high).c_str(), name);
  }
}

}  // namespace

void warn_of_surprises(const TextureName& name, const WeldedTexture& texture, const OldTexFile& old,
                       const std::vector<std::string>& split_names) {
  const TextureFiles& files = name.files;
  const TexHeader& header = texture.header;
  const auto limit = static_cast<unsigned>(kTexMaxSplitDimension);
  if (old.has_size && (old.x != header.x_size || old.y != header.y_size)) {
    warn_of_new_size(files.tex, {old.x, old.y}, {header.x_size, header.y_size});
  } else if (header.x_size > limit || header.y_size > limit) {
    print_error("WARNING! %s is %u x %u; skinsplit reads textures up to %u x %u.\n",
                files.tex.c_str(), header.x_size, header.y_size, limit, limit);
  }
  if (old.found && !tex_is_paletted(static_cast<TexSubtype>(header.tail[0]))) {
    print_error(
        "WARNING! %s has sub-type %d, not a paletted texture these tools know; its header is "
        "kept as it was.\n",
        files.tex.c_str(), header.tail[0]);
  }
  warn_of_unprepared_edits(name, texture, split_names);
}
