#include "formats/png.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>

#include "formats/tex.h"

namespace {

/// libpng reports an error by a jump back to where reading began; only plain
/// data lives between there and here, so no destructor is skipped.
[[noreturn]] void stop_on_error(png_structp png, png_const_charp message) {
  auto* image = static_cast<PngImage*>(png_get_error_ptr(png));
  std::snprintf(image->message, sizeof image->message, "%s", message);
  png_longjmp(png, 1);
}

/// Warnings (an unknown chunk, a profile it does not like) change nothing
/// read, but one says that the size is over the limit, before the header's
/// error that follows it.
void note_warning(png_structp png, png_const_charp message) {
  if (std::strstr(message, "exceeds user limit") != nullptr)
    static_cast<PngImage*>(png_get_error_ptr(png))->too_large = true;
}

/// Asks libpng for the pixels as this reader keeps them: indices one byte
/// each for a palette image, else eight-bit red, green, blue and alpha.
void choose_transforms(png_structp png, png_infop info, PngImage& image) {
  const int type = png_get_color_type(png, info);
  const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  image.indexed = type == PNG_COLOR_TYPE_PALETTE;
  image.alpha = transparency || (type & PNG_COLOR_MASK_ALPHA) != 0;
  if (image.indexed) {
    png_set_packing(png);  // 1, 2 or 4 bits an index become a byte
  } else {
    png_set_scale_16(png);
    png_set_expand_gray_1_2_4_to_8(png);
    if (transparency) png_set_tRNS_to_alpha(png);
    png_set_gray_to_rgb(png);
    if ((type & PNG_COLOR_MASK_ALPHA) == 0 && !transparency)
      png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
}

/// A palette image's PLTE, with the alpha of its tRNS, as a colour map.
void read_palette(png_structp png, png_infop info, PngImage& image) {
  png_colorp entries = nullptr;
  int count = 0;
  png_bytep alphas = nullptr;
  int alpha_count = 0;
  png_color_16p unused = nullptr;
  if (png_get_PLTE(png, info, &entries, &count) == 0) count = 0;
  if (png_get_tRNS(png, info, &alphas, &alpha_count, &unused) == 0) alpha_count = 0;
  for (int n = 0; n < std::min(count, 256); ++n) {
    const auto alpha = static_cast<unsigned char>(n < alpha_count ? alphas[n] : 255);
    image.map.colour[static_cast<std::size_t>(n)] = {entries[n].red, entries[n].green,
                                                     entries[n].blue, alpha};
    image.map.present[static_cast<std::size_t>(n)] = true;
  }
}

/// The whole read, in one function so that libpng's jump lands here.
PngResult read_with_libpng(std::FILE* stream, PngImage& image, std::span<unsigned char> pixels) {
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &image, stop_on_error, note_warning);
  if (png == nullptr) {
    std::snprintf(image.message, sizeof image.message, "out of memory");
    return PngResult::damaged;
  }
  png_infop info = png_create_info_struct(png);
  PngResult result = PngResult::damaged;
  // NOLINTNEXTLINE(cert-err52-cpp): libpng's own way; nothing here has a destructor
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, stream);
    // A larger image is refused from its header, before its pixels are read.
    png_set_user_limits(png, kTexMaxDimension, kTexMaxDimension);
    png_read_info(png, info);
    image.width = png_get_image_width(png, info);
    image.height = png_get_image_height(png, info);
    choose_transforms(png, info, image);
    if (image.indexed) read_palette(png, info, image);
    const std::size_t row_bytes = png_get_rowbytes(png, info);
    static std::array<png_bytep, kTexMaxDimension> rows;
    for (std::uint32_t y = 0; y < image.height; ++y)
      rows[y] = pixels.data() + (image.height - 1 - y) * row_bytes;  // bottom row first
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    result = PngResult::ok;
  } else if (image.too_large) {
    result = PngResult::too_large;
  }
  png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  return result;
}

}  // namespace

PngResult read_png(std::FILE* stream, PngImage& image, std::span<unsigned char> pixels) {
  image = PngImage{};
  return read_with_libpng(stream, image, pixels);
}
