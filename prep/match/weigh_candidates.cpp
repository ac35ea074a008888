#include "prep/match/colour_search.h"
#include "prep/prep_work.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "prep/colours.h"
#include "prep/match/error_diffusion.h"
#include "prep/match/tuning.h"

namespace {

/// The squared distance from a colour to the nearest of the filled entries
/// of its alpha (of any, where none has it), where its pixels move.
double nearest_distance(const Rgba& colour, const Palette& shown, const EntrySet& filled) {
  EntrySet of_alpha = entries_of_alpha(shown, filled, colour[3]);
  if (std::find(of_alpha.begin(), of_alpha.end(), true) == of_alpha.end()) of_alpha = filled;
  std::int64_t distance = 0;
  find_nearest(colour, shown, &of_alpha, distance);
  return static_cast<double>(distance);
}

/// The error the new colours' pixels come out with, dithered as the final
/// remap dithers them (Floyd and Steinberg's weights among those pixels
/// alone): nearest entries alone would favour palettes that band. Reckoned
/// for a large edit on the pixels of each block of two by two that the
/// palettes were not made from (see block_x), so that none is favoured: of
/// every block, or of fewer in a large picture (at most kEditSample), and
/// counted for all.
double dithered_error(const ColourSearch& s, const Palette& shown, const EntrySet& filled) {
  const Match& m = s.m;
  const bool sampled = s.large;
  NearestEntry nearest(shown, &filled);
  const std::span<const Rgba> wanted = wanted_colours(m);
  std::size_t step = 1;
  while (sampled && (step == 1 || wanted.size() > kEditSample * step * step))
    step *= 2;
  const std::size_t width = (m.image.width + step - 1) / step;
  const std::size_t height = (m.image.height + step - 1) / step;
  ErrorDiffusion diffusion(width);
  double error = 0;
  std::size_t reckoned = 0;
  for (std::size_t j = 0; j < height; ++j) {
    diffusion.next_row();
    for (std::size_t i = 0; i < width; ++i) {
      std::size_t x = i;
      std::size_t y = j;
      if (sampled) {  // the weighed corner of the first block of two by two
        x = block_x(step * i / 2, step * j / 2, true);
        y = block_y(step * i / 2, step * j / 2, true);
        if (x >= m.image.width || y >= m.image.height) continue;
      }
      ++reckoned;
      const std::size_t k = y * m.image.width + x;
      if (!m.scratch->fresh[k]) continue;
      const Rgba want = diffusion.with_error(wanted[k], i);
      const Rgba& got = shown[nearest.find(want)];
      error += static_cast<double>(
          colour_distance(wanted[k], got, std::numeric_limits<std::int64_t>::max()));
      diffusion.spread(want, got, i);
    }
  }
  return reckoned == 0
             ? 0
             : error * static_cast<double>(m.image.colours.size()) / static_cast<double>(reckoned);
}

/// The share of the edited pixels inside the picture that are busy (see
/// kBusyContrast).
double busy_share(const Match& m) {
  const std::span<const Rgba> wanted = wanted_colours(m);
  const std::size_t width = m.image.width;
  std::size_t edited = 0;
  std::size_t busy = 0;
  for (std::size_t y = 1; y + 1 < m.image.height; ++y) {
    for (std::size_t k = y * width + 1; k < (y + 1) * width - 1; ++k) {
      if (!m.scratch->fresh[k]) continue;
      int contrast = 0;
      for (std::size_t ch = 0; ch < 4; ++ch)
        contrast += std::abs(4 * wanted[k][ch] - wanted[k - 1][ch] - wanted[k + 1][ch] -
                             wanted[k - width][ch] - wanted[k + width][ch]);
      ++edited;
      busy += contrast > kBusyContrast ? 1 : 0;
    }
  }
  return edited == 0 ? 0 : static_cast<double>(busy) / static_cast<double>(edited);
}

/// How much larger than after a fresh reduction the edit's error may come
/// out (see the margins in tuning.h).
double edit_margin(const ColourSearch& s) {
  if (!s.large) return kSmallEditMargin;
  const double busy = std::min(1.0, busy_share(s.m) / kBusyShare);
  return kSmoothEditMargin + (kBusyEditMargin - kSmoothEditMargin) * busy;
}

}  // namespace

void gather_demand(ColourSearch& s) {
  const Match& m = s.m;
  s.demand = Demand{};
  for (std::size_t k = 0; k < m.image.colours.size(); ++k) {
    if (m.scratch->fresh[k]) continue;
    ++(m.scratch->untouched[k] ? s.demand.untouched : s.demand.matched)[m.result->high[k]];
  }
}

void weigh(const ColourSearch& s, Candidate& c) {
  const Match& m = s.m;
  const Palette shown = colours_of(c.palette, m.setting.expanded);
  c.edit_error = dithered_error(s, shown, c.filled);
  c.untouched_error = 0;
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n) {
    if (c.kept[n] || s.demand.untouched[n] + s.demand.matched[n] == 0) continue;
    const double distance = nearest_distance(
        tex_entry_colour(m.setting.palette[n], m.setting.expanded), shown, c.filled);
    c.untouched_error += static_cast<double>(s.demand.untouched[n]) * (distance + kAnyChange);
    c.edit_error += static_cast<double>(s.demand.matched[n]) * distance;
  }
}

const Candidate& anew_candidate(const ColourSearch& s) {
  return *std::find_if(s.candidates.begin(), s.candidates.end(),
                       [](const Candidate& c) { return c.kind == Kind::anew; });
}

void allow_error(ColourSearch& s) {
  const Match& m = s.m;
  const auto untouched = std::span(m.scratch->untouched).first(m.image.colours.size());
  const auto changed = static_cast<double>(std::count(untouched.begin(), untouched.end(), false));
  const double margin = edit_margin(s);
  s.allowed = margin * margin * std::max(anew_candidate(s).edit_error, kLeastEditError * changed);
}

const Candidate& least_weighted(const ColourSearch& s) {
  const Candidate* best = &anew_candidate(s);
  double least = std::numeric_limits<double>::max();
  for (const Candidate& c : s.candidates) {
    const double weighted = c.edit_error + kUntouchedWeight * c.untouched_error;
    if (c.edit_error <= s.allowed && weighted < least) {
      least = weighted;
      best = &c;
    }
  }
  return *best;
}
