#include "prep/match/colour_search.h"
#include "prep/prep_work.h"

#include <limits>

#include "prep/colours.h"
#include "prep/match/error_diffusion.h"

void remap_by_nearest(Match& m, const Candidate& c) {
  const Palette shown = colours_of(c.palette, m.setting.expanded);
  const Palette before = colours_of(m.before, m.setting.expanded);
  NearestEntry nearest(shown, &c.filled);
  NearestOfAlpha same_alpha(shown, c.filled);
  const std::span<const Rgba> wanted = wanted_colours(m);
  std::array<unsigned char, kTexMaxPixels>& high = m.result->high;
  const std::size_t width = m.image.width;
  ErrorDiffusion diffusion(width);
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    const std::size_t x = k % width;
    if (x == 0 && k > 0) diffusion.next_row();
    if (!m.scratch->fresh[k]) {
      if (!c.kept[high[k]]) high[k] = same_alpha.find(wanted[k], before[high[k]][3]);
      continue;
    }
    const Rgba want = diffusion.with_error(wanted[k], x);
    high[k] = nearest.find(want);
    if (shown[high[k]] == wanted[k]) {
      ++m.counts.reduction.exact_pixels;
    } else {
      ++m.counts.reduction.dithered_pixels;
    }
    diffusion.spread(want, shown[high[k]], x);
  }
}

void remap_into_remade_palette(Match& m, const Candidate& c) {
  const Palette shown = colours_of(c.palette, m.setting.expanded);
  ColourIndex lowest;
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n) {
    if (c.filled[n]) lowest.add(pack_colour(shown[n]), static_cast<int>(n));
  }
  const Palette before = colours_of(m.before, m.setting.expanded);
  NearestEntry nearest(shown, &c.filled);
  NearestOfAlpha same_alpha(shown, c.filled);
  const std::span<const Rgba> colours = wanted_colours(m);
  std::array<unsigned char, kTexMaxPixels>& high = m.result->high;
  for (std::size_t k = 0; k < colours.size(); ++k) {
    const bool touched = m.scratch->fresh[k];
    if (!touched && c.kept[high[k]]) {
      m.counts.reduction.exact_pixels += shown[high[k]] == colours[k] ? 1 : 0;
      continue;
    }
    if (!touched) {  // its entry was given up: the nearest of the alpha it shows
      Rgba want = colours[k];
      want[3] = before[high[k]][3];
      high[k] = same_alpha.find(want, want[3]);
      m.counts.reduction.exact_pixels += shown[high[k]] == colours[k] ? 1 : 0;
      continue;
    }
    const int exact = lowest.find(pack_colour(colours[k]));
    const int dithered = c.entry_of_made[m.scratch->remapped[k]];
    if (exact >= 0) {
      high[k] = static_cast<unsigned char>(exact);
      ++m.counts.reduction.exact_pixels;
    } else if (dithered >= 0) {
      high[k] = static_cast<unsigned char>(dithered);
      ++m.counts.reduction.dithered_pixels;
    } else {
      high[k] = nearest.find(colours[k]);  // a colour libimagequant found no room for
    }
  }
}

void keep_exact_alpha(Match& m, const Candidate& c) {
  const Palette colours = colours_of(c.palette, m.setting.expanded);
  const std::span<const Rgba> wanted = wanted_colours(m);
  std::array<unsigned char, kTexMaxPixels>& high = m.result->high;
  constexpr std::int64_t kFar = std::numeric_limits<std::int64_t>::max();
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    const Rgba& want = wanted[k];
    const bool other_alpha = colours[high[k]][3] != want[3];
    const bool other_clear = want[3] == 0 && colours[high[k]] != want;
    if ((want[3] != 0 && want[3] != 255) || !(other_alpha || other_clear)) continue;
    if (!m.scratch->fresh[k] && c.kept[high[k]]) continue;  // untouched: kept as it was
    std::int64_t best =
        colours[high[k]][3] == want[3] ? colour_distance(colours[high[k]], want, kFar) : kFar;
    for (std::size_t n = 0; n < kTexPaletteEntries; ++n) {
      if (!c.filled[n] || colours[n][3] != want[3]) continue;
      const std::int64_t distance = colour_distance(colours[n], want, best);
      if (distance < best) {
        best = distance;
        high[k] = static_cast<unsigned char>(n);
      }
    }
  }
}
