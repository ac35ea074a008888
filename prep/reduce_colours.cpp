#include "prep/reduce_colours.h"

#include "prep/palette_colours.h"

#include <libimagequant.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace {

// libimagequant reads the colours in place as rows of red, green, blue, alpha bytes.
static_assert(sizeof(TgaColour) == 4);

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

/// Where each colour of the new palette goes: a colour that a fixed entry
/// had stays at that entry's index (the lowest, if several had it); the
/// others take the indices left, lowest first.
std::array<int, 256> place_colours(const liq_palette& made, const ReductionInput& input,
                                   const TexPalette& old, Reduction& reduction) {
  std::array<int, 256> place{};
  place.fill(-1);
  std::array<bool, 256> taken{};
  for (unsigned j = 0; j < made.count; ++j) {
    const liq_color& c = made.entries[j];
    const TgaColour colour = {c.r, c.g, c.b, c.a};
    for (std::size_t n = 0; n < 256; ++n) {
      if (input.fixed[n] && !taken[n] && tex_entry_colour(old[n], input.expanded) == colour) {
        place[j] = static_cast<int>(n);
        taken[n] = true;
        ++reduction.kept_places;
        break;
      }
    }
  }
  std::size_t next = 0;
  for (unsigned j = 0; j < made.count; ++j) {
    if (place[j] >= 0) continue;
    while (taken[next])
      ++next;
    place[j] = static_cast<int>(next);
    taken[next] = true;
  }
  return place;
}

}  // namespace

bool reduce_colours(const ReductionInput& input, TexPalette& palette, std::span<unsigned char> high,
                    std::span<std::uint32_t> sort_space, Reduction& reduction) {
  reduction = {};
  for (std::size_t k = 0; k < input.colours.size(); ++k)
    sort_space[k] = pack_colour(input.colours[k]);
  reduction.image_colours = count_distinct(sort_space.first(input.colours.size()));
  const std::unique_ptr<liq_attr, AttrDeleter> attr(liq_attr_create());
  if (!attr || liq_set_max_colors(attr.get(), 256) != LIQ_OK ||
      liq_set_quality(attr.get(), 0, 100) != LIQ_OK || liq_set_speed(attr.get(), 1) != LIQ_OK)
    return false;
  const std::unique_ptr<liq_image, ImageDeleter> image(
      liq_image_create_rgba(attr.get(), input.colours.data(), static_cast<int>(input.width),
                            static_cast<int>(input.height), 0));
  if (!image) return false;
  for (std::size_t n = 0; n < 256; ++n) {
    if (!input.fixed[n]) continue;
    const TgaColour c = tex_entry_colour(palette[n], input.expanded);
    if (liq_image_add_fixed_color(image.get(), liq_color{c[0], c[1], c[2], c[3]}) != LIQ_OK)
      return false;
  }
  liq_result* made = nullptr;
  if (liq_image_quantize(image.get(), attr.get(), &made) != LIQ_OK) return false;
  const std::unique_ptr<liq_result, ResultDeleter> result(made);
  // Dithering at libimagequant's default level, as pngquant uses it.
  const std::size_t count = input.width * input.height;
  if (liq_set_dithering_level(result.get(), 1.0F) != LIQ_OK ||
      liq_write_remapped_image(result.get(), image.get(), high.data(), count) != LIQ_OK)
    return false;
  reduction.mean_square_error = liq_get_remapping_error(result.get());
  reduction.quality = liq_get_remapping_quality(result.get());

  const liq_palette& colours = *liq_get_palette(result.get());
  const std::array<int, 256> place = place_colours(colours, input, palette, reduction);
  palette.fill({0, 0, 0, 0});
  std::array<bool, 256> filled{};
  for (unsigned j = 0; j < colours.count; ++j) {
    const liq_color& c = colours.entries[j];
    const auto index = static_cast<std::size_t>(place[j]);
    palette[index] = tex_colour_entry(TgaColour{c.r, c.g, c.b, c.a}, input.expanded);
    filled[index] = true;
  }
  ColourIndex lowest;
  for (std::size_t n = 0; n < 256; ++n) {
    if (filled[n])
      lowest.add(pack_colour(tex_entry_colour(palette[n], input.expanded)), static_cast<int>(n));
  }
  // A colour the new palette holds exactly is taken as it is: no dithering
  // noise on flat areas that the edit did not touch.
  for (std::size_t k = 0; k < count; ++k) {
    const int exact = lowest.find(pack_colour(input.colours[k]));
    if (exact >= 0) {
      high[k] = static_cast<unsigned char>(exact);
      ++reduction.exact_pixels;
    } else {
      high[k] = static_cast<unsigned char>(place[high[k]]);
      ++reduction.dithered_pixels;
    }
  }
  return true;
}
