#include "weld/build_texture.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "formats/input_file.h"
#include "formats/output_file.h"
#include "formats/pal.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "shell/driver.h"
#include "shell/report.h"
#include "shell/texture_path.h"

namespace {

constexpr std::size_t kMaxDimension = 512;

/// The fixed work area, sized for the largest texture accepted (512 × 512).
/// Each level is kept as its pixel bytes in the order they go to the TEX file.
struct WeldWorkArea {
  TexPalette palette;
  std::array<unsigned char, kMaxDimension * kMaxDimension> high;
  std::array<unsigned char, (kMaxDimension / 2) * (kMaxDimension / 2)> medium;
  std::array<unsigned char, (kMaxDimension / 4) * (kMaxDimension / 4)> low;
};
WeldWorkArea work;

/// One level of detail as the builder reads it.
struct LevelImage {
  const char* suffix;
  const char* open_failure;
  const char* reading_text;
  unsigned divisor;  // of the high size
  std::span<unsigned char> buffer;
};

/// The texture's place: its directory D, and its base name B, which names
/// the image directory D + B and every file in it.
TexturePath resolve_texture_name(std::string_view argument) {
  // Tab completion and a folder dropped on the program leave a separator at the end.
  while (!argument.empty() && (argument.back() == '/' || argument.back() == '\\'))
    argument.remove_suffix(1);
  // Byte-exact on purpose: ".Tex" names a different texture.
  if (argument.ends_with(".tex") || argument.ends_with(".TEX")) argument.remove_suffix(4);
  return split_texture_path(argument);
}

/// Enters the image directory D + B.
bool enter_image_directory(const TexturePath& path) {
  if (!enter_texture_drive(path)) return false;
  if (chdir((path.directory + path.name).c_str()) != 0) {
    print_system_error("ERROR! Could not change to image directory! ");
    return false;
  }
  return true;
}

/// Comes back out of the image directory the way it was entered: from where
/// the tool started, into D. Going up with ".." would follow an image
/// directory that is a symbolic link to wherever it points.
bool return_to_texture_directory(const TexturePath& path) {
  if (!return_to_start_directory()) {
    print_system_error("ERROR! Could not change to texture directory! ");
    return false;
  }
  return enter_texture_directory(path);
}

bool read_palette_file(const std::string& texture) {
  const std::string name = texture + ".pal";
  print_progress("Opening %s...", name.c_str());
  const InputFile file = open_input(name.c_str());
  if (!file) {
    print_progress("not found.\n");
    print_system_error("ERROR! Could not open palette file! ");
    return false;
  }
  print_progress("Reading data for palette...");
  PalHeader header;
  if (!read_pal_header(file.get(), header)) {
    print_system_error("\nERROR! Could not read palette header ");
    return false;
  }
  switch (read_pal_entries(file.get(), work.palette)) {
    case ReadResult::read_error:
      print_system_error("\nERROR! Could not read palette! ");
      return false;
    case ReadResult::end_of_file:
      print_error("\nERROR! Tried to read past EOF!\n");
      return false;
    case ReadResult::ok:
      break;
  }
  print_progress("done!\n");
  return true;
}

/// Checks an image's size: at most 512 for the high level (high is null),
/// exactly the high size divided for the others.
bool check_level_size(const LevelImage& level, const TgaHeader& image, const TgaHeader* high) {
  if (high == nullptr) {
    if (image.width > kMaxDimension || image.height > kMaxDimension) {
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
bool read_level_image(const std::string& texture, const LevelImage& level, const TgaHeader* high,
                      TgaHeader& image) {
  const std::string name = texture + level.suffix;
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
  TgaColourMap colour_map;
  if (!skip_tga_colour_map(file.get(), image, &colour_map)) {
    print_system_error("\nERROR! Could not find start of data! ");
    return false;
  }
  const std::span<unsigned char> pixels =
      level.buffer.first(std::size_t{image.width} * image.height);
  switch (read_tga_indices(file.get(), image, pixels)) {
    case ReadResult::read_error:
      print_system_error("\nERROR! Could not read image data! ");
      return false;
    case ReadResult::end_of_file:
      print_error("\nERROR! Tried to read past end-of-file!\n");
      return false;
    case ReadResult::ok:
      break;
  }
  print_progress("done!\n");
  // The palette file wins; a paint program that reordered or pruned the map
  // would otherwise change the texture's colours without a word.
  if (tga_colours_differ(colour_map, pixels, work.palette)) {
    print_error("WARNING! Colours of %s differ from %s; the palette file's colours are used.\n",
                name.c_str(), (texture + ".pal").c_str());
  }
  return true;
}

bool read_level_images(const std::string& texture, TexHeader& header) {
  const LevelImage high_level = {"_h.tga", "ERROR! Could not open high LOD image! ",
                                 "Reading data for high quality image...", 1, work.high};
  const LevelImage medium_level = {"_m.tga", "ERROR! Could not open medium LOD image! ",
                                   "Reading data for medium quality image...", 2, work.medium};
  const LevelImage low_level = {"_l.tga", "ERROR! Could not open low LOD image! ",
                                "Reading data for low quality image...", 4, work.low};
  TgaHeader high;
  TgaHeader other;
  if (!read_level_image(texture, high_level, nullptr, high)) return false;
  header.x_size = high.width;
  header.y_size = high.height;
  return read_level_image(texture, medium_level, &high, other) &&
         read_level_image(texture, low_level, &high, other);
}

/// Takes bytes 4 to 13 of the TEX file being replaced, or the default tail.
bool take_header_tail(const std::string& tex_name, TexTail& tail) {
  print_progress("Checking %s...", tex_name.c_str());
  const InputFile file = open_input(tex_name.c_str());
  if (!file && errno != ENOENT) {
    // A file that is there but cannot be read still holds a sub-type and
    // header bytes that the default tail would lose.
    print_system_error("\nERROR! Could not open TEX file! ");
    return false;
  }
  if (!file) {
    print_progress("not found.  Creating new TEX file...");
    tail = kTexDefaultTail;
    return true;
  }
  if (std::fseek(file.get(), 4, SEEK_SET) != 0) {
    print_system_error("ERROR! Could not find start of TEX file! ");
    return false;
  }
  if (!read_record(file.get(), tail)) {
    print_progress("could not determine sub-type, assuming CAR.");
    tail = kTexDefaultTail;
    return true;
  }
  // A true-colour texture has no palette; indices under its header would be garbage.
  const auto subtype = static_cast<TexSubtype>(tail[0]);
  if (subtype == TexSubtype::truecolour24 || subtype == TexSubtype::truecolour32) {
    print_error("\nERROR! %s has true-colour sub-type %d, not replaced!\n", tex_name.c_str(),
                static_cast<int>(tail[0]));
    return false;
  }
  return true;
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

  const std::size_t x = header.x_size;
  const std::size_t y = header.y_size;
  const struct {
    const char* progress;
    std::span<const unsigned char> bytes;
  } levels[] = {
      {"Saving high LOD...", std::span(work.high).first(x * y)},
      {"Saving medium LOD...", std::span(work.medium).first((x / 2) * (y / 2))},
      {"Saving low LOD...", std::span(work.low).first((x / 4) * (y / 4))},
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
bool build_texture(char* argument) {  // NOLINT(readability-non-const-parameter)
  const TexturePath path = resolve_texture_name(argument);
  const std::string& texture = path.name;
  const std::string tex_name = texture + ".tex";

  if (!enter_image_directory(path)) return false;
  TexHeader header;
  if (!read_palette_file(texture) || !read_level_images(texture, header)) return false;
  // The TEX file lies beside the image directory.
  if (!return_to_texture_directory(path)) return false;
  return take_header_tail(tex_name, header.tail) && write_texture(tex_name, header);
}
