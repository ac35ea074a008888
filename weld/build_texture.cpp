#include "weld/build_texture.h"

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "files/input_file.h"
#include "files/output_file.h"
#include "files/texture_lock.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "shell/report.h"
#include "shell/steps.h"
#include "shell/texture_path.h"

namespace {

/// The fixed work area, sized for the largest texture accepted (512 × 512).
/// Each level is kept as its pixel bytes in the order they go to the TEX file.
struct WeldWorkArea {
  TexPalette palette;
  TexLevels levels;
};
WeldWorkArea work;

/// One level of detail as the builder reads it.
struct LevelImage {
  const char* open_failure;
  const char* reading_text;
  unsigned divisor;  // of the high size
  std::span<unsigned char> buffer;
};

/// Enters the image directory D + B.
bool enter_image_directory(const TexturePath& path, const std::string& image_directory) {
  if (!enter_texture_drive(path)) return false;
  if (chdir((path.directory + image_directory).c_str()) != 0) {
    print_system_error("ERROR! Could not change to image directory! ");
    return false;
  }
  return true;
}

/// Comes back out of the image directory the way it was entered: from where
/// the tool started, into D. Going up with ".." would follow an image
/// directory that is a symbolic link to wherever it points.
bool return_to_texture_directory(const TexturePath& path, const StartDirectory& start) {
  if (!start.go_back()) {
    print_system_error("ERROR! Could not change to texture directory! ");
    return false;
  }
  return enter_texture_directory(path);
}

bool read_palette_file(const std::string& name) {
  print_progress("Opening %s...", name.c_str());
  const InputFile file = open_input(name.c_str());
  if (!file) {
    print_progress("not found.\n");
    print_system_error("ERROR! Could not open palette file! ");
    return false;
  }
  return read_palette_data(file.get(), work.palette);
}

/// Checks an image's size: at most 512 for the high level (high is null),
/// exactly the high size divided for the others.
bool check_level_size(const LevelImage& level, const TgaHeader& image, const TgaHeader* high) {
  if (high == nullptr) {
    if (image.width > kTexMaxDimension || image.height > kTexMaxDimension) {
      print_error("ERROR! Image exceeds maximum size!\n");
      return false;
    }
  } else if (image.width != high->width / level.divisor ||
             image.height != high->height / level.divisor) {
    print_error("ERROR! Image not correct size!\n");
    return false;
  }
  // Taking the bytes of a true-colour image as indices would write a garbage
  // texture over a good one.
  const bool indexed_type = image.image_type == kTgaColourMapped || image.image_type == kTgaGrey ||
                            image.image_type == kTgaColourMappedRle ||
                            image.image_type == kTgaGreyRle;
  if (image.pixel_depth != 8 || !indexed_type) {
    print_error("ERROR! Image is not an 8-bit colour-mapped or grey-scale image!\n");
    return false;
  }
  return true;
}

/// Reads one level's image into its buffer and its header into image. The
/// medium and low images are checked against high; the high one has none.
bool read_level_image(const std::string& name, const std::string& palette_name,
                      const LevelImage& level, const TgaHeader* high, TgaHeader& image) {
  print_progress("Opening %s...", name.c_str());
  const InputFile file = open_input(name.c_str());
  if (!file) {
    print_progress("not found.\n");
    print_system_error(level.open_failure);
    return false;
  }
  if (!read_tga_header(file.get(), image)) {
    print_system_error("\nERROR! Could not read tga header ");
    return false;
  }
  print_progress("\nDimensions of image = %dx%d\n", image.width, image.height);
  if (!check_level_size(level, image, high)) return false;
  print_progress("%s", level.reading_text);
  const char* read_error = "\nERROR! Could not read image data! ";
  const char* cut_short = "\nERROR! Tried to read past end-of-file!\n";
  TgaColourMap colour_map;
  if (!report_read(read_tga_colour_map(file.get(), image, colour_map), read_error, cut_short))
    return false;
  const std::span<unsigned char> pixels =
      level.buffer.first(std::size_t{image.width} * image.height);
  if (!report_read(read_tga_indices(file.get(), image, pixels), read_error, cut_short))
    return false;
  print_progress("done!\n");
  // The palette file wins; a paint program that reordered or pruned the map
  // would otherwise change the texture's colours without a word. Maps of 15
  // or 16 bits cannot hold the palette's colours exactly, so they are not
  // compared.
  const bool comparable = image.colour_map_entry_size == 24 || image.colour_map_entry_size == 32;
  if (comparable && tga_colours_differ(colour_map, pixels, work.palette)) {
    print_error("WARNING! Colours of %s differ from %s; the palette file's colours are used.\n",
                name.c_str(), palette_name.c_str());
  }
  return true;
}

bool read_level_images(const TextureFiles& files, TexHeader& header) {
  const LevelImage high_level = {"ERROR! Could not open high LOD image! ",
                                 "Reading data for high quality image...", 1, work.levels.high};
  const LevelImage medium_level = {"ERROR! Could not open medium LOD image! ",
                                   "Reading data for medium quality image...", 2,
                                   work.levels.medium};
  const LevelImage low_level = {"ERROR! Could not open low LOD image! ",
                                "Reading data for low quality image...", 4, work.levels.low};
  const std::string& palette = files.level_palette;
  TgaHeader high;
  TgaHeader other;
  if (!read_level_image(files.levels[0], palette, high_level, nullptr, high)) return false;
  header.x_size = high.width;
  header.y_size = high.height;
  return read_level_image(files.levels[1], palette, medium_level, &high, other) &&
         read_level_image(files.levels[2], palette, low_level, &high, other);
}

/// What the TEX file being replaced was, beyond its tail: for the warnings
/// about what the new one changes.
struct OldTexFile {
  bool found = false;
  bool has_size = false;
  std::uint16_t x = 0;
  std::uint16_t y = 0;
};

/// Takes bytes 4 to 13 of the TEX file being replaced, or the default tail.
bool take_header_tail(const std::string& tex_name, TexTail& tail, OldTexFile& old) {
  print_progress("Checking %s...", tex_name.c_str());
  InputFile file;
  // A file that is there but cannot be read still holds a sub-type and
  // header bytes that the default tail would lose.
  if (!open_if_present(tex_name, file, old.found, "\nERROR! Could not open TEX file! "))
    return false;
  if (!old.found) {
    print_progress("not found.  Creating new TEX file...");
    tail = kTexDefaultTail;
    return true;
  }
  old.has_size = read_tex_dimensions(file.get(), old.x, old.y) == TexDimensionsResult::ok;
  if (std::fseek(file.get(), 4, SEEK_SET) != 0) {
    print_system_error("ERROR! Could not find start of TEX file! ");
    return false;
  }
  if (!read_record(file.get(), tail)) {
    print_progress("could not determine sub-type, assuming CAR.");
    tail = kTexDefaultTail;
    return true;
  }
  return check_replaceable(static_cast<TexSubtype>(tail[0]),
                           "\nERROR! %s has true-colour sub-type %d, not replaced!\n",
                           tex_name.c_str(), static_cast<int>(tail[0]));
}

/// Tells what the new texture does that the user may not expect: another
/// size than the one it replaces, a header of a sub-type the tools do not
/// know carried over, or an edited image that was not prepared yet.
void warn_of_surprises(const TextureName& name, const TexHeader& header, const OldTexFile& old) {
  const TextureFiles& files = name.files;
  if (old.has_size && (old.x != header.x_size || old.y != header.y_size))
    warn_of_new_size(files.tex, old.x, old.y, header.x_size, header.y_size);
  const auto subtype = static_cast<TexSubtype>(header.tail[0]);
  if (old.found && subtype != TexSubtype::indexed && subtype != TexSubtype::indexed_expanded) {
    print_error(
        "WARNING! %s has sub-type %d, not a paletted texture these tools know; its header is "
        "kept as it was.\n",
        files.tex.c_str(), header.tail[0]);
  }
  const std::string high = files.image_directory + "/" + files.levels[0];
  if (file_is_newer(files.edited_image, high)) {
    print_error(
        "WARNING! %s is newer than %s: the edit is not in this texture; run skinprep %s "
        "first.\n",
        files.edited_image.c_str(), high.c_str(), name.base.c_str());
  }
}

/// Writes the TEX file whole, or leaves the old one exactly as it was.
bool write_texture(const std::string& tex_name, const TexHeader& header) {
  OutputFile out;
  if (!out.open(tex_name)) {
    print_progress("failed.\n");
    print_system_error("ERROR!  Could not create TEX file ");
    return false;
  }
  print_progress("Writing %s...\n", tex_name.c_str());
  if (!write_tex_header(out.stream(), header)) {
    print_system_error("\nERROR!  Could not write TEX header! ");
    return false;
  }
  print_progress("writing palette in BGRA format...");
  if (!write_tex_palette(out.stream(), work.palette)) {
    print_system_error("\nERROR! Could not write palette! ");
    return false;
  }
  print_progress("done!\n");

  const TexLevelSizes sizes = tex_level_sizes(header.x_size, header.y_size);
  const struct {
    const char* progress;
    std::span<const unsigned char> bytes;
  } levels[] = {
      {"Saving high LOD...", std::span(work.levels.high).first(sizes.high)},
      {"Saving medium LOD...", std::span(work.levels.medium).first(sizes.medium)},
      {"Saving low LOD...", std::span(work.levels.low).first(sizes.low)},
  };
  for (const auto& level : levels) {
    print_progress("%s", level.progress);
    const bool last = &level == &levels[2];
    // The file is complete and in place before the last "done!".
    if (!write_tex_level(out.stream(), level.bytes) || (last && !out.commit())) {
      print_system_error("\nERROR! Could not write data! ");
      return false;
    }
    print_progress("done!\n");
  }
  return true;
}

}  // namespace

// The driver hands every tool's procedure the writable argument; this one only reads it.
bool build_texture(char* argument,  // NOLINT(readability-non-const-parameter)
                   const StartDirectory& start) {
  const TextureName name = read_texture_name(argument, NameRule::weld);
  const TextureFiles& files = name.files;
  const TextureLock lock(name.path.drive + name.path.directory);

  if (!enter_image_directory(name.path, files.image_directory)) return false;
  TexHeader header;
  if (!read_palette_file(files.level_palette) || !read_level_images(files, header)) return false;
  // The TEX file lies beside the image directory.
  if (!return_to_texture_directory(name.path, start)) return false;
  OldTexFile old;
  if (!take_header_tail(files.tex, header.tail, old) || !write_texture(files.tex, header))
    return false;
  warn_of_surprises(name, header, old);
  return true;
}
