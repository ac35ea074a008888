#include "shell/edited_image.h"

#include <algorithm>
#include <cstdio>

#include "files/input_file.h"
#include "formats/png.h"
#include "shell/messages.h"
#include "shell/report.h"
#include "shell/steps.h"

namespace {

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
bool decode_colours(const ImageFile& image, ImageArea& area, EditedImage& edited) {
  const std::size_t count = image.width * image.height;
  for (std::size_t k = 0; k < count; ++k) {
    const unsigned char* pixel = &area.stored[k * image.pixel_bytes];
    if (image.indexed && !image.map.present[pixel[0]]) {
      print_error("\nERROR! A pixel of %s has index %d, which its colour map does not hold!\n",
                  image.name.c_str(), pixel[0]);
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

/// Takes a TGA image (name) of every colour mode the reader knows, up to
/// 512 × 512. Returns the bytes a pixel has, or 0 when refused.
unsigned check_edited_image(const TgaHeader& h, const std::string& name) {
  if (!check_image_fits(h)) return 0;
  const unsigned pixel_bytes = tga_colour_pixel_bytes(h);
  if (pixel_bytes == 0) {
    print_error("ERROR! %s is of type %d with %d bits per pixel, not a TGA image skinprep takes!\n",
                name.c_str(), h.image_type, h.pixel_depth);
  }
  return pixel_bytes;
}

/// Reads a TGA image's header, colour map and pixels, the pixels into stored.
bool read_tga_edit(std::FILE* file, std::span<unsigned char> stored, ImageFile& image) {
  TgaImage tga;
  tga.pixels = stored;
  if (!read_tga_image(
          file, "Reading data for image...",
          [&](const TgaHeader& h) { return check_edited_image(h, image.name); }, tga))
    return false;
  const TgaHeader& h = tga.header;
  image.header = h;
  image.map = tga.map;
  image.pixel_bytes = tga.pixel_bytes;
  image.indexed = tga_is_colour_mapped(h.image_type);
  image.alpha_channel = image.indexed ? h.colour_map_entry_size == 32 : h.pixel_depth == 32;
  image.width = h.width;
  image.height = h.height;
  return true;
}

/// Reads a PNG image: its palette and indices, or its colours.
bool read_png_image(std::FILE* file, ImageArea& area, ImageFile& image) {
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
  print_image_dimensions(png.width, png.height);
  print_progress("Reading data for image...");
  image.map = png.map;
  image.indexed = png.indexed;
  image.alpha_channel = png.alpha;
  image.pixel_bytes = png.indexed ? 1 : 4;
  image.width = png.width;
  image.height = png.height;
  return true;
}

}  // namespace

void choose_image_file(const TextureFiles& files, const std::string& dropped, ImageFile& image) {
  const bool tga = file_exists(files.edited_image);
  const bool png = file_exists(files.edited_png);
  if (!dropped.empty()) {
    image.name = dropped;
    image.png = has_extension(dropped, ".png");
    const std::string& other = image.png ? files.edited_image : files.edited_png;
    if (image.png ? tga : png) {
      image.left_aside = other;
      image.why = LeftAside::named;
    }
    return;
  }
  const int age = compare_modification_times(files.edited_png, files.edited_image);
  image.png = png && (!tga || age > 0);
  image.name = image.png ? files.edited_png : files.edited_image;
  if (tga && png) {
    image.left_aside = image.png ? files.edited_image : files.edited_png;
    image.why = age == 0 ? LeftAside::as_old : LeftAside::older;
  }
}

bool read_edited_image(ImageArea& area, ImageFile& image, EditedImage& edited) {
  print_progress("Opening %s...", image.name.c_str());
  const InputFile file = open_input(image.name.c_str());
  if (!file) {
    print_system_error(("\nERROR! Could not open image " + image.name + "! ").c_str());
    return false;
  }
  const bool read = image.png ? read_png_image(file.get(), area, image)
                              : read_tga_edit(file.get(), area.stored, image);
  if (!read || !decode_colours(image, area, edited)) return false;
  print_progress("done!\n");
  return true;
}
