#include "prep/read_inputs.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>

#include "files/input_file.h"
#include "formats/png.h"
#include "shell/messages.h"
#include "shell/report.h"
#include "shell/steps.h"

namespace {

constexpr const char* kReadTexFailed = "\nERROR! Could not read TEX file! ";

/// Whether the image has an alpha channel of its own: pixels or map entries
/// that can carry alpha, some below 255. All of them 0 is a program that left
/// the byte unused.
bool has_real_alpha(const ImageFile& image, std::span<const Rgba> colours) {
  if (!image.alpha_channel) return false;
  const bool below_opaque =
      std::any_of(colours.begin(), colours.end(), [](const Rgba& c) { return c[3] != 255; });
  const bool all_clear =
      std::all_of(colours.begin(), colours.end(), [](const Rgba& c) { return c[3] == 0; });
  return below_opaque && !all_clear;
}

/// The colour of one stored pixel of either kind of image.
Rgba pixel_colour(const ImageFile& image, const unsigned char* pixel) {
  if (image.indexed) return image.map.colour[pixel[0]];
  if (image.png) return {pixel[0], pixel[1], pixel[2], pixel[3]};
  return tga_pixel_colour(pixel, image.header, image.map);
}

/// Turns the stored pixels into colours; an index that the colour map does
/// not hold is refused, since no colour can be made up for it.
bool decode_colours(const ImageFile& image, InputArea& area, EditedImage& edited) {
  const std::size_t count = image.width * image.height;
  for (std::size_t k = 0; k < count; ++k) {
    const unsigned char* pixel = &area.stored[k * image.pixel_bytes];
    if (image.indexed && !image.map.present[pixel[0]]) {
      print_error("\nERROR! A pixel has index %d, which the image's colour map does not hold!\n",
                  pixel[0]);
      return false;
    }
    area.colours[k] = pixel_colour(image, pixel);
  }
  edited.width = image.width;
  edited.height = image.height;
  edited.colours = std::span(area.colours).first(count);
  edited.indices = image.indexed ? std::span<const unsigned char>(area.stored).first(count)
                                 : std::span<const unsigned char>();
  edited.map = image.indexed ? &image.map : nullptr;
  edited.has_alpha = has_real_alpha(image, edited.colours);
  return true;
}

/// Takes a TGA image of every colour mode the reader knows, up to 512 × 512.
/// Returns the bytes a pixel has, or 0 when refused.
unsigned check_edited_image(const TgaHeader& h) {
  if (!check_image_fits(h)) return 0;
  const unsigned pixel_bytes = tga_colour_pixel_bytes(h);
  if (pixel_bytes == 0) {
    print_error(
        "ERROR! Image of type %d with %d bits per pixel is not a TGA image skinprep takes!\n",
        h.image_type, h.pixel_depth);
  }
  return pixel_bytes;
}

/// Reads a TGA image's header, colour map and pixels.
bool read_tga_edit(std::FILE* file, InputArea& area, ImageFile& image) {
  TgaImage tga;
  if (!read_tga_image(file, "Reading data for image...", check_edited_image, tga, area.stored))
    return false;
  const TgaHeader& h = tga.header;
  image.header = h;
  image.map = tga.map;
  image.pixel_bytes = tga.pixel_bytes;
  image.indexed = h.image_type == kTgaColourMapped || h.image_type == kTgaColourMappedRle;
  image.alpha_channel = image.indexed ? h.colour_map_entry_size == 32 : h.pixel_depth == 32;
  image.width = h.width;
  image.height = h.height;
  return true;
}

/// Reads a PNG image: its palette and indices, or its colours.
bool read_png_image(std::FILE* file, InputArea& area, ImageFile& image) {
  PngImage png;
  switch (read_png(file, png, area.stored)) {
    case PngResult::too_large:
      print_error("%s", kImageTooLarge);
      return false;
    case PngResult::damaged:
      print_error("\nERROR! %s is not a PNG image skinprep can read: %s!\n", image.name.c_str(),
                  png.message);
      return false;
    case PngResult::ok:
      break;
  }
  print_progress("\nDimensions of image = %ux%u\n", png.width, png.height);
  print_progress("Reading data for image...");
  image.map = png.map;
  image.indexed = png.indexed;
  image.alpha_channel = png.alpha;
  image.pixel_bytes = png.indexed ? 1 : 4;
  image.width = png.width;
  image.height = png.height;
  return true;
}

/// Which of tga/NAME.tga and tga/NAME.png to read: the one there is, or of
/// both the one modified last (a PNG saved beside the split TGA is the edit).
void choose_image_file(const TextureFiles& files, ImageFile& image) {
  const bool tga = file_exists(files.edited_image);
  const bool png = file_exists(files.edited_png);
  const bool take_png = png && (!tga || file_is_newer(files.edited_png, files.edited_image));
  image.png = take_png;
  image.name = take_png ? files.edited_png : files.edited_image;
  if (tga && png) image.left_aside = take_png ? files.edited_image : files.edited_png;
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
    print_system_error(kReadTexFailed);
    return false;
  }
  if (!check_texture_header(file, edited, old)) return false;
  if (!old.left_aside.empty()) return true;
  if (static_cast<std::uint64_t>(length) < tex_written_length(old.x, old.y)) {
    old.left_aside = "cut short";
    return true;
  }
  switch (read_tex_levels(file, old.x, old.y, area.texture_palette, area.texture_levels)) {
    case ReadResult::read_error:
      print_system_error(kReadTexFailed);
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

}  // namespace

bool read_edited_image(const TextureFiles& files, InputArea& area, ImageFile& image,
                       EditedImage& edited) {
  choose_image_file(files, image);
  print_progress("Opening %s...", image.name.c_str());
  const InputFile file = open_input(image.name.c_str());
  if (!file) {
    print_system_error("\nERROR! Could not open image! ");
    return false;
  }
  const bool read =
      image.png ? read_png_image(file.get(), area, image) : read_tga_edit(file.get(), area, image);
  if (!read || !decode_colours(image, area, edited)) return false;
  print_progress("done!\n");
  return true;
}

bool read_old_texture(const std::string& name, const EditedImage& edited, InputArea& area,
                      OldTexture& old) {
  print_progress("Checking %s...", name.c_str());
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
  if (!read_texture_levels(file.get(), edited, area, old)) return false;
  if (old.usable) {
    print_progress("done!\n");
  } else {
    print_progress("%s, not used.\n", old.left_aside.c_str());
  }
  return true;
}
