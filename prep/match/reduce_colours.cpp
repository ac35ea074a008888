#include "prep/match/matching.h"
#include "prep/prep_work.h"

#include <limits>

#include "prep/colours.h"
#include "prep/match/colour_search.h"
#include "prep/match/tuning.h"

namespace {

/// Counts the colours the pixels ask for, alpha included, their keys
/// packed in the scratch.
unsigned long count_image_colours(Match& m) {
  const std::span<const Rgba> colours = wanted_colours(m);
  const std::span<std::uint32_t> keys = std::span(m.scratch->keys).first(colours.size());
  for (std::size_t k = 0; k < colours.size(); ++k)
    keys[k] = pack_colour(colours[k]);
  return count_distinct(keys);
}

/// The mean square error of the high level against the picture asked for,
/// per channel (red, green, blue, alpha; 0 to 255).
double mean_square_error(const Match& m) {
  const Palette shown = colours_of(m.setting.palette, m.setting.expanded);
  const std::span<const Rgba> wanted = wanted_colours(m);
  double sum = 0;
  for (std::size_t k = 0; k < wanted.size(); ++k)
    sum += static_cast<double>(colour_distance(wanted[k], shown[m.result->high[k]],
                                               std::numeric_limits<std::int64_t>::max()));
  return wanted.empty() ? 0 : sum / (4.0 * static_cast<double>(wanted.size()));
}

/// Counts the untouched pixels that show another colour than they did.
unsigned long count_untouched_changed(const Match& m) {
  const Palette before = colours_of(m.before, m.setting.expanded);
  const Palette after = colours_of(m.setting.palette, m.setting.expanded);
  unsigned long changed = 0;
  for (std::size_t k = 0; k < m.image.colours.size(); ++k) {
    if (m.scratch->untouched[k])
      changed += after[m.result->high[k]] != before[m.old.levels->high[k]] ? 1 : 0;
  }
  return changed;
}

/// How the summary names the way a candidate fitted the colours.
Fitting fitting_of(Kind kind) {
  return kind == Kind::whole   ? Fitting::kept
         : kind == Kind::exact ? Fitting::exact
                               : Fitting::remade;
}

}  // namespace

bool reduce_colours(Match& m) {
  Reduction& reduction = m.counts.reduction;
  reduction = {};
  reduction.image_colours = count_image_colours(m);
  ColourSearch search(m);
  search.large = kLargeEditShare * m.counts.fresh_pixels >= m.image.colours.size() &&
                 m.image.width > 1 && m.image.height > 1;
  rank_kept_entries(search);
  Candidate chosen;
  if (!choose_candidate(search, chosen)) return false;
  reduction.fitting = fitting_of(chosen.kind);
  // A palette from libimagequant is made again at the final speed, with the
  // picture remapped into it.
  const bool from_libimagequant = chosen.kind == Kind::remade || chosen.kind == Kind::anew;
  if (from_libimagequant && !remade_palette(search, chosen.fixed, Pass::final, chosen))
    return false;
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n)
    reduction.remade_entries += chosen.filled[n] && !chosen.kept[n] ? 1 : 0;
  m.before = m.setting.palette;
  m.setting.palette = chosen.palette;
  if (from_libimagequant) {
    remap_into_remade_palette(m, chosen);
  } else {
    remap_by_nearest(m, chosen);
  }
  keep_exact_alpha(m, chosen);
  reduction.mean_square_error = mean_square_error(m);
  if (m.old.usable) reduction.untouched_changed = count_untouched_changed(m);
  m.counts.reduced = true;
  return true;
}
