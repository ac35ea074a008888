#include "prep/match/quantizer.h"

#include <libimagequant.h>

#include <memory>

namespace {

// libimagequant reads the colours in place as rows of red, green, blue, alpha bytes.
static_assert(sizeof(Rgba) == 4);

// libimagequant's objects, each destroyed by its own function.
struct AttrDeleter {
  void operator()(liq_attr* p) const { liq_attr_destroy(p); }
};
struct ImageDeleter {
  void operator()(liq_image* p) const { liq_image_destroy(p); }
};
struct ResultDeleter {
  void operator()(liq_result* p) const { liq_result_destroy(p); }
};
using Attr = std::unique_ptr<liq_attr, AttrDeleter>;
using LiqImage = std::unique_ptr<liq_image, ImageDeleter>;
using LiqResult = std::unique_ptr<liq_result, ResultDeleter>;

/// Rows of width pixels as libimagequant reads them, in place.
LiqImage picture_image(liq_attr* attr, std::span<const Rgba> colours, std::size_t width,
                       std::size_t height) {
  return LiqImage(liq_image_create_rgba(attr, colours.data(), static_cast<int>(width),
                                        static_cast<int>(height), 0));
}

/// The picture as libimagequant takes it, with the fixed colours and the
/// importance of each pixel.
LiqImage make_image(const QuantizeRequest& request, liq_attr* attr) {
  LiqImage image = picture_image(attr, request.colours, request.width, request.height);
  if (!image) return image;
  for (const Rgba& c : request.fixed) {
    if (liq_image_add_fixed_color(image.get(), liq_color{c[0], c[1], c[2], c[3]}) != LIQ_OK)
      return {};
  }
  // libimagequant only reads the map (and copies it): it is handed over as
  // its own copy would be.
  if (!request.importance.empty() &&
      liq_image_set_importance_map(image.get(),
                                   const_cast<unsigned char*>(request.importance.data()),  // NOLINT
                                   request.importance.size(), LIQ_COPY_PIXELS) != LIQ_OK)
    return {};
  return image;
}

/// Remaps the picture, or the other one the request names, into the
/// palette made, dithered at libimagequant's default level, as pngquant
/// dithers.
bool remap(const QuantizeRequest& request, liq_attr* attr, liq_image* image, liq_result* made) {
  LiqImage other;
  if (!request.remap_colours.empty()) {
    other = picture_image(attr, request.remap_colours, request.remap_width,
                          request.remap_colours.size() / request.remap_width);
    if (!other) return false;
    image = other.get();
  }
  return liq_set_dithering_level(made, 1.0F) == LIQ_OK &&
         liq_write_remapped_image(made, image, request.remapped.data(), request.remapped.size()) ==
             LIQ_OK;
}

}  // namespace

bool quantize(const QuantizeRequest& request, Quantized& result) {
  const Attr attr(liq_attr_create());
  if (!attr || liq_set_max_colors(attr.get(), request.max_colours) != LIQ_OK ||
      liq_set_quality(attr.get(), 0, 100) != LIQ_OK ||
      liq_set_speed(attr.get(), request.speed) != LIQ_OK)
    return false;
  const LiqImage image = make_image(request, attr.get());
  liq_result* made = nullptr;
  if (!image || liq_image_quantize(image.get(), attr.get(), &made) != LIQ_OK) return false;
  const LiqResult quantized(made);
  if (!request.remapped.empty() && !remap(request, attr.get(), image.get(), quantized.get()))
    return false;
  const liq_palette& palette = *liq_get_palette(quantized.get());
  result.palette.clear();
  for (unsigned j = 0; j < palette.count; ++j) {
    const liq_color& c = palette.entries[j];
    result.palette.push_back({c.r, c.g, c.b, c.a});
  }
  return true;
}
