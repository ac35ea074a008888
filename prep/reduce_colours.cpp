#include "prep/reduce_colours.h"

#include "prep/palette_colours.h"

#include <libimagequant.h>

#include <algorithm>
#include <cstdint>
#include <limits>
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
using Attr = std::unique_ptr<liq_attr, AttrDeleter>;
using LiqImage = std::unique_ptr<liq_image, ImageDeleter>;
using LiqResult = std::unique_ptr<liq_result, ResultDeleter>;

using Fixed = std::array<bool, 256>;

/// libimagequant's best quality (speed 1) for the palette that is kept; a
/// quicker one to compare how many colours to fix, which ranks them alike.
constexpr int kFinalSpeed = 1;
constexpr int kTrialSpeed = 6;

/// A palette made by libimagequant for the picture, with the entries marked
/// in fixed held as they are, and the picture remapped to it with dithering
/// into high (libimagequant's palette order).
struct Quantized {
  LiqImage image;
  LiqResult result;
};

bool quantize(const ReductionInput& input, const TexPalette& palette, const Fixed& fixed, int speed,
              std::span<unsigned char> high, Quantized& out) {
  const Attr attr(liq_attr_create());
  if (!attr || liq_set_max_colors(attr.get(), 256) != LIQ_OK ||
      liq_set_quality(attr.get(), 0, 100) != LIQ_OK || liq_set_speed(attr.get(), speed) != LIQ_OK)
    return false;
  out.image.reset(liq_image_create_rgba(attr.get(), input.colours.data(),
                                        static_cast<int>(input.width),
                                        static_cast<int>(input.height), 0));
  if (!out.image) return false;
  for (std::size_t n = 0; n < 256; ++n) {
    if (!fixed[n]) continue;
    const TgaColour c = tex_entry_colour(palette[n], input.expanded);
    if (liq_image_add_fixed_color(out.image.get(), liq_color{c[0], c[1], c[2], c[3]}) != LIQ_OK)
      return false;
  }
  liq_result* made = nullptr;
  if (liq_image_quantize(out.image.get(), attr.get(), &made) != LIQ_OK) return false;
  out.result.reset(made);
  // Dithering at libimagequant's default level, as pngquant uses it.
  return liq_set_dithering_level(out.result.get(), 1.0F) == LIQ_OK &&
         liq_write_remapped_image(out.result.get(), out.image.get(), high.data(),
                                  input.colours.size()) == LIQ_OK;
}

/// The first count entries of the kept ones, as fixed colours.
Fixed first_kept(const ReductionInput& input, std::size_t count) {
  Fixed fixed{};
  for (std::size_t rank = 0; rank < count; ++rank)
    fixed[input.kept[rank]] = true;
  return fixed;
}

/// How many of the kept entries to fix: every one keeps the untouched
/// picture exactly, at its index, but may leave a repaint too few colours.
/// A few counts are tried; the most that come within kErrorMargin of the
/// least error of the whole picture win, since between nearly equal results
/// the one that changes less of what the user did not touch is better.
bool choose_fixed_count(const ReductionInput& input, const TexPalette& palette,
                        std::span<unsigned char> high, std::size_t& chosen) {
  constexpr double kErrorMargin = 1.15;
  chosen = 0;
  const std::size_t all = std::min<std::size_t>(input.kept.size(), 255);
  if (all == 0) return true;
  std::array<std::size_t, 8> counts{};
  for (std::size_t i = 0; i < counts.size(); ++i)
    counts[i] = all * (counts.size() - i) / counts.size();
  std::array<double, 8> errors{};
  for (std::size_t i = 0; i < counts.size(); ++i) {
    Quantized trial;
    if (!quantize(input, palette, first_kept(input, counts[i]), kTrialSpeed, high, trial))
      return false;
    errors[i] = liq_get_remapping_error(trial.result.get());
  }
  const double least = *std::min_element(errors.begin(), errors.end());
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (errors[i] <= least * kErrorMargin) {
      chosen = counts[i];
      break;
    }
  }
  return true;
}

/// Where each colour of the new palette goes: a colour that a fixed entry
/// had stays at that entry's index (the lowest, if several had it); the
/// others take the indices left, lowest first.
std::array<int, 256> place_colours(const liq_palette& made, const Fixed& fixed, bool expanded,
                                   const TexPalette& old, Reduction& reduction) {
  std::array<int, 256> place{};
  place.fill(-1);
  std::array<bool, 256> taken{};
  for (unsigned j = 0; j < made.count; ++j) {
    const liq_color& c = made.entries[j];
    const TgaColour colour = {c.r, c.g, c.b, c.a};
    for (std::size_t n = 0; n < 256; ++n) {
      if (fixed[n] && !taken[n] && tex_entry_colour(old[n], expanded) == colour) {
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

/// Dithering may give a fully transparent or fully opaque pixel a colour of
/// some other alpha: a see-through speck, or a faint veil over nothing. Such
/// a pixel takes the nearest entry of its exact alpha, where there is one.
void keep_exact_alpha(const ReductionInput& input, const Palette& colours,
                      const std::array<bool, 256>& filled, std::span<unsigned char> high) {
  for (std::size_t k = 0; k < input.colours.size(); ++k) {
    const TgaColour& want = input.colours[k];
    if ((want[3] != 0 && want[3] != 255) || colours[high[k]][3] == want[3]) continue;
    long best = std::numeric_limits<long>::max();
    for (std::size_t n = 0; n < 256; ++n) {
      if (!filled[n] || colours[n][3] != want[3]) continue;
      long distance = 0;
      for (std::size_t ch = 0; ch < 3 && want[3] != 0; ++ch)
        distance += (long{colours[n][ch]} - want[ch]) * (long{colours[n][ch]} - want[ch]);
      if (distance < best) {
        best = distance;
        high[k] = static_cast<unsigned char>(n);
      }
    }
  }
}

}  // namespace

bool reduce_colours(const ReductionInput& input, TexPalette& palette, std::span<unsigned char> high,
                    std::span<std::uint32_t> sort_space, Reduction& reduction) {
  reduction = {};
  for (std::size_t k = 0; k < input.colours.size(); ++k)
    sort_space[k] = pack_colour(input.colours[k]);
  reduction.image_colours = count_distinct(sort_space.first(input.colours.size()));
  std::size_t fixed_count = 0;
  if (!choose_fixed_count(input, palette, high, fixed_count)) return false;
  const Fixed fixed = first_kept(input, fixed_count);
  Quantized made;
  if (!quantize(input, palette, fixed, kFinalSpeed, high, made)) return false;
  reduction.fixed_entries = fixed_count;
  reduction.mean_square_error = liq_get_remapping_error(made.result.get());
  reduction.quality = liq_get_remapping_quality(made.result.get());

  const liq_palette& colours = *liq_get_palette(made.result.get());
  const std::array<int, 256> place =
      place_colours(colours, fixed, input.expanded, palette, reduction);
  palette.fill({0, 0, 0, 0});
  std::array<bool, 256> filled{};
  for (unsigned j = 0; j < colours.count; ++j) {
    const liq_color& c = colours.entries[j];
    const auto index = static_cast<std::size_t>(place[j]);
    palette[index] = tex_colour_entry(TgaColour{c.r, c.g, c.b, c.a}, input.expanded);
    filled[index] = true;
  }
  const Palette shown = colours_of(palette, input.expanded);
  ColourIndex lowest;
  for (std::size_t n = 0; n < 256; ++n) {
    if (filled[n]) lowest.add(pack_colour(shown[n]), static_cast<int>(n));
  }
  NearestEntry nearest(shown, &filled);
  // A colour the new palette holds exactly is taken as it is: no dithering
  // noise on flat areas that the edit did not touch. A pixel the edit did
  // not touch whose colour was dropped takes the nearest one: dithering it
  // would scatter noise over what the user left alone.
  for (std::size_t k = 0; k < input.colours.size(); ++k) {
    const int exact = lowest.find(pack_colour(input.colours[k]));
    if (exact >= 0) {
      high[k] = static_cast<unsigned char>(exact);
      ++reduction.exact_pixels;
    } else if (!input.fresh.empty() && !input.fresh[k]) {
      high[k] = nearest.find(input.colours[k]);
      ++reduction.dithered_pixels;
    } else {
      high[k] = static_cast<unsigned char>(place[high[k]]);
      ++reduction.dithered_pixels;
    }
  }
  keep_exact_alpha(input, shown, filled, high);
  return true;
}
