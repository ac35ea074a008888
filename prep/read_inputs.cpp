#include "prep/read_inputs.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>

#include "files/input_file.h"
#include "shell/messages.h"
#include "shell/report.h"
#include "shell/steps.h"

namespace {

/// The failure to read the texture, naming it.
std::string read_tex_failed(const std::string& name) {
  return "\nERROR! Could not read " + name + "! ";
}

/// Reads the TEX file's header and tells whether its levels can serve: a
/// paletted texture of the image's size. Returns false only for a refusal.
bool check_texture_header(std::FILE* file, const EditedImage& edited, OldTexture& old) {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  const bool has_header = read_tex_dimensions(file, x, y) == TexDimensionsResult::ok;
  const std::optional<TexSubtype> subtype = has_header ? read_tex_subtype(file) : std::nullopt;
  if (!subtype) {
    old.left_aside = "cut short";
    return true;
  }
  const int number = static_cast<int>(*subtype);
  // Indices that skinweld would write under a true-colour header would be garbage.
  if (tex_is_true_colour(*subtype)) {
    print_error("\nERROR! Texture has true-colour sub-type %d, which skinweld does not replace!\n",
                number);
    return false;
  }
  old.subtype = *subtype;
  old.x = x;
  old.y = y;
  if (!tex_is_paletted(*subtype)) {
    old.left_aside = "sub-type " + std::to_string(number);
  } else if (x != edited.width || y != edited.height) {
    old.other_size = true;
    old.left_aside = "another size, " + std::to_string(x) + "x" + std::to_string(y);
  }
  return true;
}

/// Reads the TEX file's header and, when it can serve, its palette and three
/// levels. Returns false only for a refusal.
bool read_texture_levels(std::FILE* file, const EditedImage& edited, InputArea& area,
                         OldTexture& old) {
  long length = 0;
  if (measure_file_length(file, length) != LengthResult::ok) {
    print_system_error(read_tex_failed(old.name).c_str());
    return false;
  }
  if (!check_texture_header(file, edited, old)) return false;
  if (!old.left_aside.empty()) return true;
  if (static_cast<std::uint64_t>(length) < tex_written_length(old.x, old.y)) {
    old.left_aside = "cut short";
    return true;
  }
  switch (read_tex_levels(file, {old.x, old.y}, area.texture_palette, area.texture_levels)) {
    case ReadResult::read_error:
      print_system_error(read_tex_failed(old.name).c_str());
      return false;
    case ReadResult::end_of_file:  // it shrank while it was read
      old.left_aside = "cut short";
      return true;
    case ReadResult::ok:
      break;
  }
  old.usable = true;
  old.palette = &area.texture_palette;
  old.levels = &area.texture_levels;
  return true;
}

/// The header bytes 4 to 13 skinweld keeps of the file it replaces: its
/// own, or the default where the file is shorter. The stream is put back
/// at the start.
TexTail tail_kept_by_weld(std::FILE* file) {
  TexTail tail = kTexDefaultTail;
  if (std::fseek(file, kTexTailOffset, SEEK_SET) != 0 || !read_record(file, tail))
    tail = kTexDefaultTail;
  std::rewind(file);
  return tail;
}

}  // namespace

bool read_old_texture(const std::string& name, const EditedImage& edited, InputArea& area,
                      OldTexture& old) {
  print_progress("Checking %s...", name.c_str());
  old.name = name;
  InputFile file;
  if (!open_if_present(name, file, old.found, kOpenTexFailed)) return false;
  if (!old.found) {
    print_progress("not found.\n");
    return true;
  }
  // A broken export must not replace a texture with an empty one.
  if (edited.colours.empty()) {
    print_error("\nERROR! The image has no pixels; %s left as it is!\n", name.c_str());
    return false;
  }
  old.checksum = file_checksum(name);
  old.tail = tail_kept_by_weld(file.get());
  if (!read_texture_levels(file.get(), edited, area, old)) return false;
  if (old.usable) {
    print_progress("done!\n");
  } else {
    print_progress("%s, not used.\n", old.left_aside.c_str());
  }
  return true;
}

bool read_palette_input(const TextureFiles& files, const OldTexture& old, PaletteFile& file) {
  if (old.usable && tex_is_expanded(old.subtype) && !file_exists(files.edited_palette)) return true;
  if (!read_palette_file(files.edited_palette, false, file.palette, file.found)) return false;
  if (file.found) {
    file.checksum = file_checksum(files.edited_palette);
    file.newer_than_texture = compare_modification_times(files.edited_palette, files.tex) > 0;
  }
  return true;
}

void read_memory(const TextureFiles& files, InputArea& area, Match& m) {
  const std::string name = files.image_directory + "/" + files.memory;
  if (!file_exists(name)) {
    m.memory_use = MemoryUse::absent;
    return;
  }
  const MemoryRead read = read_prep_memory_file(name, area.memory_pixels, m.memory);
  if (read == MemoryRead::not_memory) {
    m.memory_use = MemoryUse::unreadable;
  } else if (read == MemoryRead::earlier_version) {
    m.memory_use = MemoryUse::earlier_version;
  } else if (m.memory.width != m.image.width || m.memory.height != m.image.height) {
    m.memory_use = MemoryUse::other_size;
  } else if (!m.old.usable) {
    m.memory_use = MemoryUse::no_texture;
  } else if (texture_checksum(area.texture_palette, area.texture_levels, m.old.x, m.old.y) !=
             m.memory.texture) {
    m.memory_use = MemoryUse::not_welded;
  } else {
    m.memory_use = MemoryUse::used;
  }
}
