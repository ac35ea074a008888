#include "prep/reduce_colours.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "prep/colours.h"
#include "prep/quantizer.h"

namespace {

/// What a colour changed where the user did not paint costs, against the
/// same error inside the edit. Chosen on the quality benchmark's edits (see
/// the README): at 4 a small edit keeps all but a few rarely used entries
/// and a repainted quarter still gets colours of its own.
constexpr double kUntouchedWeight = 4;

/// libimagequant's speed for the palettes compared, and for the one kept
/// (pngquant's own default).
constexpr int kTrialSpeed = 10;
constexpr int kFinalSpeed = 4;

/// How much a pixel whose entry is held fixed counts for libimagequant: it
/// is served already, so the new colours go where they are needed.
constexpr unsigned char kServedImportance = 8;

using Entries = std::array<bool, 256>;

/// A palette one way of fitting the new colours gives.
struct Candidate {
  std::size_t fixed = 0;  ///< ranked entries held fixed
  bool whole = false;     ///< the palette kept as it is: new colours take their nearest entries
  TexPalette palette{};
  Entries filled{};  ///< entries that hold a colour
  Entries kept{};    ///< entries that hold the colour they held, at the same place
  double error = 0;  ///< weighted, see weighted_error
};

/// The colours every pixel asks for, in the TEX file's pixel order.
std::span<const Rgba> wanted_colours(const Match& m) {
  return std::span(m.scratch->wanted).first(m.image.colours.size());
}

bool see_through(const Match& m, std::size_t entry) {
  return tex_entry_colour(m.setting.palette[entry], m.setting.expanded)[3] == 0;
}

/// The entries that pixels keeping their colour use (the users, at all three
/// levels), most worth keeping first: see-through entries, whose colour
/// libimagequant would lose, then by what dropping one would cost: the
/// pixels that use it times how far its nearest other kept colour lies, so
/// that of nearly equal colours one is enough, and a colour only a few
/// pixels of a lower level need still counts.
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
    cost[n] = see_through(m, n) ? std::numeric_limits<double>::max()
                                : static_cast<double>(m.users[n]) * std::sqrt(static_cast<double>(nearest));
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [&](unsigned char a, unsigned char b) { return cost[a] > cost[b]; });
  return ranked;
}

/// How many ranked entries are see-through, and so always held fixed.
std::size_t count_see_through(const Match& m, const std::vector<unsigned char>& ranked) {
  return static_cast<std::size_t>(
      std::count_if(ranked.begin(), ranked.end(), [&](unsigned char n) { return see_through(m, n); }));
}

/// The numbers of ranked entries to hold fixed that are tried: all of them
/// (only the free entries are made anew) or all but a few (the least used
/// give up their places to the edit's colours), and a half, a quarter and
/// none of them (a repaint needs room).
std::vector<std::size_t> counts_to_try(std::size_t ranked, std::size_t see_through) {
  std::vector<std::size_t> counts;
  const std::size_t most = std::min<std::size_t>(ranked, 255);
  for (const std::size_t given_up : {0U, 4U, 16U, 64U}) {
    if (most >= given_up) counts.push_back(most - given_up);
  }
  counts.push_back(most / 2);
  counts.push_back(most / 4);
  counts.push_back(0);
  for (std::size_t& count : counts)
    count = std::max(count, see_through);
  std::sort(counts.begin(), counts.end());
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
  return counts;
}

/// The palette kept as it is.
Candidate whole_palette(const Match& m) {
  Candidate c;
  c.whole = true;
  c.palette = m.setting.palette;
  c.filled.fill(true);
  c.kept.fill(true);
  return c;
}

/// Puts libimagequant's colours in their entries: a colour that a fixed
/// entry had stays at that entry (see-through ones, which libimagequant
/// gives as 0,0,0,0, with their own colour), and every fixed entry keeps its
/// colour, even one libimagequant merged with another; the others take the
/// entries left, lowest first. place maps libimagequant's order to the
/// entries (-1 for a colour there was no room for).
void place_palette(const Match& m, const Quantized& made, const Entries& fixed, Candidate& c,
                   std::array<int, 256>& place) {
  place.fill(-1);
  c.palette.fill({0, 0, 0, 0});
  c.filled = c.kept = Entries{};
  for (std::size_t j = 0; j < made.palette.size(); ++j) {
    const Rgba& colour = made.palette[j];
    for (std::size_t n = 0; n < 256; ++n) {
      const Rgba had = tex_entry_colour(m.setting.palette[n], m.setting.expanded);
      const bool same = colour[3] == 0 ? had[3] == 0 : had == colour;
      if (fixed[n] && !c.filled[n] && same) {
        place[j] = static_cast<int>(n);
        c.filled[n] = true;
        break;
      }
    }
  }
  for (std::size_t n = 0; n < 256; ++n) {
    if (!fixed[n]) continue;
    c.palette[n] = m.setting.palette[n];
    c.filled[n] = c.kept[n] = true;
  }
  std::size_t next = 0;
  for (std::size_t j = 0; j < made.palette.size(); ++j) {
    if (place[j] >= 0) continue;
    while (next < 256 && c.filled[next])
      ++next;
    if (next == 256) break;
    place[j] = static_cast<int>(next);
    c.filled[next] = true;
    c.palette[next] = tex_colour_entry(made.palette[j], m.setting.expanded);
    c.kept[next] = c.palette[next] == m.setting.palette[next];
  }
}

/// Tells libimagequant which pixels need the new colours: not those whose
/// entry it holds fixed, which are served already.
void mark_importance(Match& m, const Entries& fixed) {
  for (std::size_t k = 0; k < m.image.colours.size(); ++k) {
    const bool served = !m.scratch->fresh[k] && fixed[m.result->high[k]];
    m.scratch->importance[k] = served ? kServedImportance : 255;
  }
}

/// A palette from libimagequant holding the first count ranked entries
/// fixed, with the picture remapped into remapped if that is not empty.
bool remade_palette(Match& m, const std::vector<unsigned char>& ranked, std::size_t count,
                    int speed, std::span<unsigned char> remapped, Candidate& c,
                    std::array<int, 256>& place, Quantized& made) {
  Entries fixed{};
  std::vector<Rgba> colours;  // each fixed colour once; libimagequant takes all see-through as one
  for (std::size_t rank = 0; rank < count; ++rank) {
    fixed[ranked[rank]] = true;
    Rgba colour = tex_entry_colour(m.setting.palette[ranked[rank]], m.setting.expanded);
    if (colour[3] == 0) colour = {0, 0, 0, 0};
    if (std::find(colours.begin(), colours.end(), colour) == colours.end())
      colours.push_back(colour);
  }
  mark_importance(m, fixed);
  QuantizeRequest request;
  request.colours = wanted_colours(m);
  request.width = m.image.width;
  request.height = m.image.height;
  request.fixed = colours;
  request.importance = std::span(m.scratch->importance).first(m.image.colours.size());
  request.speed = speed;
  // Room for every fixed entry, each at its place, however many share a colour.
  request.max_colours = static_cast<int>(256 - (count - colours.size()));
  request.remapped = remapped;
  if (!quantize(request, made)) return false;
  c.fixed = count;
  place_palette(m, made, fixed, c, place);
  return true;
}

/// What a candidate costs: the error of the whole high level against the
/// picture asked for, each pixel at its entry where that keeps its colour,
/// else at its nearest entry; a pixel the user did not touch that changes
/// colour counts kUntouchedWeight times.
double weighted_error(const Match& m, const Candidate& c) {
  Palette shown{};
  for (std::size_t n = 0; n < 256; ++n)
    shown[n] = tex_entry_colour(c.palette[n], m.setting.expanded);
  NearestEntry nearest(shown, &c.filled);
  const std::span<const Rgba> wanted = wanted_colours(m);
  double error = 0;
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    const bool fresh = m.scratch->fresh[k];
    if (!fresh && c.kept[m.result->high[k]]) continue;
    const auto distance = static_cast<double>(colour_distance(
        wanted[k], shown[nearest.find(wanted[k])], std::numeric_limits<std::int64_t>::max()));
    error += m.scratch->untouched[k] ? kUntouchedWeight * distance : distance;
  }
  return error;
}

/// The candidates compared by their weighted error: the palette kept whole,
/// and libimagequant's palettes with all but a few, half, a quarter or none
/// of the kept entries fixed. Returns the best; false when libimagequant fails.
bool choose_candidate(Match& m, const std::vector<unsigned char>& ranked, Candidate& best) {
  best = whole_palette(m);
  best.error = weighted_error(m, best);
  if (m.policy == PalettePolicy::keep) return true;
  const std::size_t clear = count_see_through(m, ranked);
  const std::vector<std::size_t> counts =
      m.policy == PalettePolicy::remake ? std::vector<std::size_t>{clear}
                                        : counts_to_try(ranked.size(), clear);
  if (m.policy == PalettePolicy::remake) best.error = std::numeric_limits<double>::max();
  for (const std::size_t count : counts) {
    Candidate trial;
    std::array<int, 256> place{};
    Quantized made;
    if (!remade_palette(m, ranked, count, kTrialSpeed, {}, trial, place, made)) return false;
    trial.error = weighted_error(m, trial);
    if (trial.error < best.error) best = trial;
  }
  return true;
}

/// With the palette kept whole: each new colour takes its nearest entry,
/// dithered (Floyd and Steinberg's weights) among the new colours' pixels
/// alone, so that nothing the user did not touch changes.
void remap_into_kept_palette(Match& m) {
  const Palette shown = colours_of(m.setting.palette, m.setting.expanded);
  NearestEntry nearest(shown);
  const std::span<const Rgba> wanted = wanted_colours(m);
  const std::size_t width = m.image.width;
  // The error carried to each pixel of this row and the next, one place on
  // either side to spare.
  std::vector<std::array<float, 4>> row(width + 2);
  std::vector<std::array<float, 4>> next_row(width + 2);
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    const std::size_t x = k % width;
    if (x == 0 && k > 0) {
      row.swap(next_row);
      std::fill(next_row.begin(), next_row.end(), std::array<float, 4>{});
    }
    if (!m.scratch->fresh[k]) continue;
    Rgba want{};
    for (std::size_t ch = 0; ch < 4; ++ch)
      want[ch] = static_cast<unsigned char>(
          std::clamp(static_cast<float>(wanted[k][ch]) + row[x + 1][ch] + 0.5F, 0.0F, 255.0F));
    const unsigned char entry = nearest.find(want);
    m.result->high[k] = entry;
    ++m.counts.reduction.dithered_pixels;
    for (std::size_t ch = 0; ch < 4; ++ch) {
      const float left = static_cast<float>(want[ch]) - static_cast<float>(shown[entry][ch]);
      row[x + 2][ch] += left * 7 / 16;
      next_row[x][ch] += left * 3 / 16;
      next_row[x + 1][ch] += left * 5 / 16;
      next_row[x + 2][ch] += left * 1 / 16;
    }
  }
}

/// Gives every pixel its entry of a remade palette. A pixel the edit did not
/// touch keeps its index where that entry kept its colour and place. A
/// colour the palette holds exactly is taken as it is: no dithering noise on
/// flat areas. A pixel the edit did not touch whose colour was dropped takes
/// the nearest one: dithering it would scatter noise over what the user left
/// alone. The new colours keep libimagequant's dithering.
void remap_into_remade_palette(Match& m, const Candidate& c, const std::array<int, 256>& place) {
  const Palette shown = colours_of(c.palette, m.setting.expanded);
  ColourIndex lowest;
  for (std::size_t n = 0; n < 256; ++n) {
    if (c.filled[n]) lowest.add(pack_colour(shown[n]), static_cast<int>(n));
  }
  NearestEntry nearest(shown, &c.filled);
  const std::span<const Rgba> colours = wanted_colours(m);
  std::array<unsigned char, kTexMaxPixels>& high = m.result->high;
  for (std::size_t k = 0; k < colours.size(); ++k) {
    const bool touched = m.scratch->fresh[k];
    if (!touched && c.kept[high[k]]) {
      m.counts.reduction.exact_pixels += shown[high[k]] == colours[k] ? 1 : 0;
      continue;
    }
    const int exact = lowest.find(pack_colour(colours[k]));
    if (exact >= 0) {
      high[k] = static_cast<unsigned char>(exact);
      ++m.counts.reduction.exact_pixels;
    } else if (!touched) {
      high[k] = nearest.find(colours[k]);
    } else if (const int entry = place[m.scratch->remapped[k]]; entry >= 0) {
      high[k] = static_cast<unsigned char>(entry);
      ++m.counts.reduction.dithered_pixels;
    } else {
      high[k] = nearest.find(colours[k]);
    }
  }
}

/// Dithering may give a fully transparent or fully opaque pixel a colour of
/// some other alpha: a see-through speck, or a faint veil over nothing. Such
/// a pixel takes the nearest entry of its exact alpha, where there is one: a
/// see-through one by its colour too, which filtering blends into what shows.
void keep_exact_alpha(Match& m, const Candidate& c) {
  const Palette colours = colours_of(c.palette, m.setting.expanded);
  const std::span<const Rgba> wanted = wanted_colours(m);
  std::array<unsigned char, kTexMaxPixels>& high = m.result->high;
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    const Rgba& want = wanted[k];
    if ((want[3] != 0 && want[3] != 255) || colours[high[k]] == want) continue;
    if (!m.scratch->fresh[k] && c.kept[high[k]]) continue;  // untouched: kept as it was
    std::int64_t best = colours[high[k]][3] == want[3]
                            ? colour_distance(colours[high[k]], want, std::numeric_limits<std::int64_t>::max())
                            : std::numeric_limits<std::int64_t>::max();
    for (std::size_t n = 0; n < 256; ++n) {
      if (!c.filled[n] || colours[n][3] != want[3]) continue;
      const std::int64_t distance = colour_distance(colours[n], want, best);
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

}  // namespace

bool reduce_colours(Match& m) {
  Reduction& reduction = m.counts.reduction;
  reduction = {};
  reduction.image_colours = count_image_colours(m);
  const std::vector<unsigned char> ranked = rank_kept_entries(m);
  Candidate chosen;
  if (!choose_candidate(m, ranked, chosen)) return false;
  m.before = m.setting.palette;
  if (chosen.whole) {
    reduction.palette_kept = true;
    remap_into_kept_palette(m);
  } else {
    // The palette chosen, made again at libimagequant's better speed.
    Candidate final;
    std::array<int, 256> place{};
    Quantized made;
    if (!remade_palette(m, ranked, chosen.fixed, kFinalSpeed, m.scratch->remapped, final, place,
                        made))
      return false;
    reduction.mean_square_error = made.mean_square_error;
    reduction.quality = made.quality;
    for (std::size_t n = 0; n < 256; ++n)
      reduction.remade_entries += final.filled[n] && !final.kept[n] ? 1 : 0;
    m.setting.palette = final.palette;
    remap_into_remade_palette(m, final, place);
    keep_exact_alpha(m, final);
  }
  if (m.old.usable) reduction.untouched_changed = count_untouched_changed(m);
  m.counts.reduced = true;
  return true;
}
