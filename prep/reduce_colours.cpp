#include "prep/reduce_colours.h"

#include <libimagequant.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "prep/colours.h"

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

using Fixed = std::array<bool, 256>;

/// libimagequant's best quality (speed 1) for the palette that is kept; a
/// quicker one to compare how many colours to fix, which ranks them alike.
constexpr int kFinalSpeed = 1;
constexpr int kTrialSpeed = 6;

/// The colours every pixel asks for, in the TEX file's pixel order.
std::span<const Rgba> wanted_colours(const Match& m) {
  return std::span(m.scratch->wanted).first(m.image.colours.size());
}

/// A palette made by libimagequant for the picture, with the entries marked
/// in fixed held as they are, and the picture remapped to it with dithering
/// into the scratch (libimagequant's palette order).
struct Quantized {
  LiqImage image;
  LiqResult result;
};

bool quantize(const Match& m, const Fixed& fixed, int speed, Quantized& out) {
  const Attr attr(liq_attr_create());
  if (!attr || liq_set_max_colors(attr.get(), 256) != LIQ_OK ||
      liq_set_quality(attr.get(), 0, 100) != LIQ_OK || liq_set_speed(attr.get(), speed) != LIQ_OK)
    return false;
  const std::span<const Rgba> colours = wanted_colours(m);
  out.image.reset(liq_image_create_rgba(attr.get(), colours.data(), static_cast<int>(m.image.width),
                                        static_cast<int>(m.image.height), 0));
  if (!out.image) return false;
  for (std::size_t n = 0; n < 256; ++n) {
    if (!fixed[n]) continue;
    const Rgba c = tex_entry_colour(m.setting.palette[n], m.setting.expanded);
    if (liq_image_add_fixed_color(out.image.get(), liq_color{c[0], c[1], c[2], c[3]}) != LIQ_OK)
      return false;
  }
  liq_result* made = nullptr;
  if (liq_image_quantize(out.image.get(), attr.get(), &made) != LIQ_OK) return false;
  out.result.reset(made);
  // Dithering at libimagequant's default level, as pngquant uses it.
  return liq_set_dithering_level(out.result.get(), 1.0F) == LIQ_OK &&
         liq_write_remapped_image(out.result.get(), out.image.get(), m.scratch->remapped.data(),
                                  colours.size()) == LIQ_OK;
}

/// The entries that pixels keeping their colour use (the users, at all three
/// levels), most worth keeping first: what dropping one would cost is the
/// pixels that use it times how far its nearest other kept colour lies, so
/// that of nearly equal colours one is enough, and a colour only a few pixels
/// of a lower level need still counts.
std::vector<unsigned char> rank_kept_entries(const Match& m) {
  const Palette colours = colours_of(m.setting.palette, m.setting.expanded);
  std::vector<unsigned char> ranked;
  for (std::size_t n = 0; n < 256; ++n) {
    if (m.users[n] > 0) ranked.push_back(static_cast<unsigned char>(n));
  }
  std::array<double, 256> cost{};
  for (const unsigned char n : ranked) {
    std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
    for (const unsigned char other : ranked) {
      if (other != n)
        nearest = std::min(nearest, colour_distance(colours[n], colours[other], nearest));
    }
    cost[n] = static_cast<double>(m.users[n]) * std::sqrt(static_cast<double>(nearest));
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [&](unsigned char a, unsigned char b) { return cost[a] > cost[b]; });
  return ranked;
}

/// The first count entries of the ranked ones, as fixed colours.
Fixed first_ranked(const std::vector<unsigned char>& ranked, std::size_t count) {
  Fixed fixed{};
  for (std::size_t rank = 0; rank < count; ++rank)
    fixed[ranked[rank]] = true;
  return fixed;
}

/// How many of the ranked entries to fix: every one keeps the untouched
/// picture exactly, at its index, but may leave a repaint too few colours.
/// A few counts are tried; the most that come within kErrorMargin of the
/// least error of the whole picture win, since between nearly equal results
/// the one that changes less of what the user did not touch is better.
bool choose_fixed_count(const Match& m, const std::vector<unsigned char>& ranked,
                        std::size_t& chosen) {
  constexpr double kErrorMargin = 1.15;
  chosen = 0;
  const std::size_t all = std::min<std::size_t>(ranked.size(), 255);
  if (all == 0) return true;
  std::array<std::size_t, 8> counts{};
  std::array<double, 8> errors{};
  for (std::size_t i = 0; i < counts.size(); ++i) {
    counts[i] = all * (counts.size() - i) / counts.size();
    Quantized trial;
    if (!quantize(m, first_ranked(ranked, counts[i]), kTrialSpeed, trial)) return false;
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
std::array<int, 256> place_colours(Match& m, const liq_palette& made, const Fixed& fixed) {
  std::array<int, 256> place{};
  place.fill(-1);
  std::array<bool, 256> taken{};
  for (unsigned j = 0; j < made.count; ++j) {
    const liq_color& c = made.entries[j];
    const Rgba colour = {c.r, c.g, c.b, c.a};
    for (std::size_t n = 0; n < 256; ++n) {
      if (fixed[n] && !taken[n] &&
          tex_entry_colour(m.setting.palette[n], m.setting.expanded) == colour) {
        place[j] = static_cast<int>(n);
        taken[n] = true;
        ++m.counts.reduction.kept_places;
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

/// Puts the new palette's colours at their places; the entries left are
/// zero. Returns which entries hold a colour.
std::array<bool, 256> rebuild_palette(Match& m, const liq_palette& made,
                                      const std::array<int, 256>& place) {
  m.setting.palette.fill({0, 0, 0, 0});
  std::array<bool, 256> filled{};
  for (unsigned j = 0; j < made.count; ++j) {
    const liq_color& c = made.entries[j];
    const auto index = static_cast<std::size_t>(place[j]);
    m.setting.palette[index] = tex_colour_entry(Rgba{c.r, c.g, c.b, c.a}, m.setting.expanded);
    filled[index] = true;
  }
  return filled;
}

/// Gives every pixel its entry of the new palette. A pixel the edit did not
/// touch keeps its index where that entry kept its colour and place. A
/// colour the palette holds exactly is taken as it is: no dithering noise on
/// flat areas that the edit did not touch. A pixel the edit did not touch
/// whose colour was dropped takes the nearest one: dithering it would
/// scatter noise over what the user left alone. The others keep
/// libimagequant's dithering.
void remap_pixels(Match& m, const Palette& shown, const std::array<bool, 256>& filled,
                  const std::array<int, 256>& place) {
  ColourIndex lowest;
  for (std::size_t n = 0; n < 256; ++n) {
    if (filled[n]) lowest.add(pack_colour(shown[n]), static_cast<int>(n));
  }
  NearestEntry nearest(shown, &filled);
  const std::span<const Rgba> colours = wanted_colours(m);
  std::array<unsigned char, kTexMaxPixels>& high = m.result->high;
  for (std::size_t k = 0; k < colours.size(); ++k) {
    const bool untouched = !m.scratch->fresh[k];
    if (untouched && m.before[high[k]] == m.setting.palette[high[k]]) {
      m.counts.reduction.exact_pixels += shown[high[k]] == colours[k] ? 1 : 0;
      continue;
    }
    const int exact = lowest.find(pack_colour(colours[k]));
    if (exact >= 0) {
      high[k] = static_cast<unsigned char>(exact);
      ++m.counts.reduction.exact_pixels;
    } else if (untouched) {
      high[k] = nearest.find(colours[k]);
    } else {
      high[k] = static_cast<unsigned char>(place[m.scratch->remapped[k]]);
      ++m.counts.reduction.dithered_pixels;
    }
  }
}

/// Dithering may give a fully transparent or fully opaque pixel a colour of
/// some other alpha: a see-through speck, or a faint veil over nothing. Such
/// a pixel takes the nearest entry of its exact alpha, where there is one.
void keep_exact_alpha(Match& m, const Palette& colours, const std::array<bool, 256>& filled) {
  const std::span<const Rgba> wanted = wanted_colours(m);
  std::array<unsigned char, kTexMaxPixels>& high = m.result->high;
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    const Rgba& want = wanted[k];
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

/// Counts the colours the pixels ask for, alpha included, sorting their
/// keys in the scratch.
unsigned long count_image_colours(Match& m) {
  const std::span<const Rgba> colours = wanted_colours(m);
  const std::span<std::uint32_t> keys = std::span(m.scratch->keys).first(colours.size());
  for (std::size_t k = 0; k < colours.size(); ++k)
    keys[k] = pack_colour(colours[k]);
  return count_distinct(keys);
}

}  // namespace

bool reduce_colours(Match& m) {
  Reduction& reduction = m.counts.reduction;
  reduction = {};
  reduction.image_colours = count_image_colours(m);
  const std::vector<unsigned char> ranked = rank_kept_entries(m);
  std::size_t fixed_count = 0;
  if (!choose_fixed_count(m, ranked, fixed_count)) return false;
  const Fixed fixed = first_ranked(ranked, fixed_count);
  Quantized made;
  if (!quantize(m, fixed, kFinalSpeed, made)) return false;
  reduction.fixed_entries = fixed_count;
  reduction.mean_square_error = liq_get_remapping_error(made.result.get());
  reduction.quality = liq_get_remapping_quality(made.result.get());

  const liq_palette& colours = *liq_get_palette(made.result.get());
  const std::array<int, 256> place = place_colours(m, colours, fixed);
  m.before = m.setting.palette;
  const std::array<bool, 256> filled = rebuild_palette(m, colours, place);
  const Palette shown = colours_of(m.setting.palette, m.setting.expanded);
  remap_pixels(m, shown, filled, place);
  keep_exact_alpha(m, shown, filled);
  m.counts.reduced = true;
  return true;
}
