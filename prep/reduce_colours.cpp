#include "prep/reduce_colours.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "prep/colours.h"
#include "prep/quantizer.h"

namespace {

// How the candidates are weighed. The constants were chosen on the quality
// benchmark's edits (bench/quality.sh; the README's table): a 4-colour logo,
// anti-aliased text and an ellipse on 1 to 3 % of a texture, and a quarter
// repainted with a photograph or a gradient.

/// What a colour changed where the user did not paint costs against the
/// same error inside the edit (squared distances).
constexpr double kUntouchedWeight = 4;

/// What any change of an untouched pixel's colour costs beside its distance
/// (squared, as colour_distance counts: 256 is a change of 8 in each of red,
/// green, blue and alpha): the user sees that it changed at all.
constexpr double kAnyChange = 256;

/// How much larger than after a fresh reduction of the whole picture (as
/// pngquant makes it) the edit's error may come out, root mean square, as
/// the palettes compared estimate it: a small edit, whose pixels are few
/// beside those it would change elsewhere, by 30 %; one of a tenth of the
/// picture or more, which is most of what the user looks at, by 10 % where
/// it is smooth (the estimates of the benchmark's gradient quarters run up
/// to 4 % low, and at 1.25 times pngquant's error gradients band visibly),
/// and by up to 20 % where it is busy, as a photograph is: the error hides
/// among pixels that differ from their neighbours anyway, which is why
/// libimagequant itself weighs them less.
constexpr double kSmallEditMargin = 1.3;
constexpr double kSmoothEditMargin = 1.1;
constexpr double kBusyEditMargin = 1.2;

/// A pixel is busy where four times its colour differs from the sum of its
/// four neighbours' by more than this, over the four channels: a straight
/// gradient differs by nothing. The share of busy pixels at which an edit
/// counts as wholly busy: the benchmark's photographs have 36 to 60 %, its
/// gradients none and the smooth corner of its synthetic skin 4 %.
constexpr int kBusyContrast = 16;
constexpr double kBusyShare = 0.4;

/// How many times the count of fixed entries chosen is refined, halfway to
/// the next larger count tried: those are an eighth of the entries apart
/// (a sixteenth near all of them for a small edit), and three halvings
/// leave a sixty-fourth, about a point of the untouched pixels of a photo
/// quarter.
constexpr int kRefinements = 3;

/// The least error, as the candidates count it (squared, over the four
/// channels), that a pixel the user changed is held to: 0.5 in each.
constexpr double kLeastEditError = 1;

/// libimagequant's speed for the palettes compared, and for the one kept
/// (pngquant's own default). Speed 7 is the fastest that does not drop the
/// lowest bit of each channel before it reduces, and it refines the median
/// cut once (k-means). At 10 a fresh reduction came out so much worse than
/// pngquant's own on smooth pictures that the other palettes looked better
/// than they were (the smooth corner of the benchmark's skin pasted over
/// the splash: 1.13 times its error estimated, 1.28 times in fact), and a
/// few flat colours never came out exactly.
constexpr int kTrialSpeed = 7;
constexpr int kFinalSpeed = 4;

/// At most how many of the pixels that need new colours libimagequant is
/// given to make them from: every so many of them, when there are more.
constexpr std::size_t kEditSample = kTexMaxPixels / 16;

/// How much a pixel counts for libimagequant: an edited one fully where no
/// fixed colour comes within kServedDistance of it (squared: 10 in each
/// channel, or 20 in one), less the nearer one comes, down to a quarter:
/// a fixed entry shows it nearly already, and the colours made serve the
/// rest better (with the same entries fixed, the error of five of the
/// benchmark's six photo quarters fell by up to 4 %, the sixth's rose by
/// 1 %); an untouched one whose entry was given up little, as it takes the
/// nearest colour left. One whose entry is held fixed is served already.
constexpr unsigned char kEditedImportance = 255;
constexpr unsigned char kServedImportance = 64;
constexpr std::int64_t kServedDistance = 400;
constexpr unsigned char kGivenUpImportance = 4;

using Entries = std::array<bool, 256>;

/// How a candidate makes room for the new colours.
enum class Kind {
  whole,   ///< none: every new colour takes its nearest entry
  exact,   ///< the least used entries give their places to the edit's most used colours
  remade,  ///< libimagequant's colours for the edit in all but the entries held fixed
  fresh,   ///< libimagequant's colours for the whole picture, as pngquant makes them
};

/// A palette one way of fitting the new colours gives.
struct Candidate {
  Kind kind = Kind::whole;
  std::size_t fixed = 0;  ///< the ranked entries held: all but those given up
  TexPalette palette{};
  Entries filled{};            ///< entries that hold a colour
  Entries kept{};              ///< entries that hold the colour they held, at the same place
  double edit_error = 0;       ///< of the pixels the user changed (squared distances)
  double untouched_error = 0;  ///< of the pixels the user did not change, where they change
};

/// Whether a tenth of the picture or more asks for new colours: the
/// palettes compared for such an edit are made from one pixel of each block
/// of two by two, and weighed on another (see block_x).
bool large_edit(const Match& m) {
  return 10 * m.counts.fresh_pixels >= m.image.colours.size() && m.image.width > 1 &&
         m.image.height > 1;
}

/// Where in the block of two by two pixels at column i, row j of such
/// blocks a large edit's palettes are made from, and where they are
/// weighed: opposite corners, which change from block to block along rows
/// and columns, so that neither misses a colour of a one-pixel pattern
/// (stripes, a checker, a grille) and no pixel is in both.
std::size_t block_x(std::size_t i, std::size_t j, bool weighed) {
  return 2 * i + ((j & 1U) ^ (weighed ? 1U : 0U));
}
std::size_t block_y(std::size_t i, std::size_t j, bool weighed) {
  return 2 * j + ((i & 1U) ^ (weighed ? 1U : 0U));
}

/// The colours every pixel asks for, in the TEX file's pixel order.
std::span<const Rgba> wanted_colours(const Match& m) {
  return std::span(m.scratch->wanted).first(m.image.colours.size());
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
/// out (see the margins above).
double edit_margin(const Match& m, bool large) {
  if (!large) return kSmallEditMargin;
  const double busy = std::min(1.0, busy_share(m) / kBusyShare);
  return kSmoothEditMargin + (kBusyEditMargin - kSmoothEditMargin) * busy;
}

bool see_through(const Match& m, std::size_t entry) {
  return tex_entry_colour(m.setting.palette[entry], m.setting.expanded)[3] == 0;
}

/// Reorders the entries given up first (the end of ranked) so that, however
/// many are given up, the medium and low levels lose no larger share of the
/// pixels that keep their colour than the high level does, where one of the
/// next few entries allows it: each next one given up is the cheapest of
/// those that keeps that, else the cheapest. The lower levels are what a
/// texture shows from a distance, and the cost alone, counting their pixels
/// by the area they cover, left them a point short on some pictures.
void balance_levels(const Match& m, std::vector<unsigned char>& ranked) {
  constexpr std::size_t kLooked = 16;
  std::array<double, kTexLevelCount> total{};
  for (std::size_t level = 0; level < kTexLevelCount; ++level) {
    for (std::size_t n = 0; n < 256; ++n)
      total[level] += static_cast<double>(m.users[level][n]);
  }
  std::array<double, kTexLevelCount> lost{};
  const auto share = [&](std::size_t level, unsigned char n) {
    return total[level] == 0
               ? 0
               : (lost[level] + static_cast<double>(m.users[level][n])) / total[level];
  };
  const auto balanced = [&](unsigned char n) {
    for (std::size_t level = 1; level < kTexLevelCount; ++level) {
      if (share(level, n) > share(0, n)) return false;
    }
    return true;
  };
  std::vector<unsigned char> left(ranked.rbegin(), ranked.rend());  // cheapest first
  std::vector<unsigned char> given_up;
  while (!left.empty()) {
    std::size_t pick = 0;
    for (std::size_t i = 0; i < std::min(left.size(), kLooked); ++i) {
      if (see_through(m, left[i])) break;  // always kept, last
      if (balanced(left[i])) {
        pick = i;
        break;
      }
    }
    for (std::size_t level = 0; level < kTexLevelCount; ++level)
      lost[level] += static_cast<double>(m.users[level][left[pick]]);
    given_up.push_back(left[pick]);
    left.erase(left.begin() + static_cast<std::ptrdiff_t>(pick));
  }
  ranked.assign(given_up.rbegin(), given_up.rend());
}

/// The entries that pixels keeping their colour use (the users, at all three
/// levels), most worth keeping first: see-through entries, whose colour
/// libimagequant would lose, then by what giving one up would cost: the
/// pixels that use it (each moved at all costs as much as a change of
/// kAnyMove) and how far they would move, to its nearest other kept colour.
std::vector<unsigned char> rank_kept_entries(const Match& m) {
  constexpr double kAnyMove = 256;
  const Palette colours = colours_of(m.setting.palette, m.setting.expanded);
  std::vector<unsigned char> ranked;
  for (std::size_t n = 0; n < 256; ++n) {
    if (users_of(m, n) > 0) ranked.push_back(static_cast<unsigned char>(n));
  }
  std::array<double, 256> cost{};
  for (const unsigned char n : ranked) {
    std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
    for (const unsigned char other : ranked) {
      if (other != n)
        nearest = std::min(nearest, colour_distance(colours[n], colours[other], nearest));
    }
    cost[n] = see_through(m, n) ? std::numeric_limits<double>::max()
                                : static_cast<double>(users_of(m, n)) *
                                      (std::sqrt(static_cast<double>(nearest)) + kAnyMove);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [&](unsigned char a, unsigned char b) { return cost[a] > cost[b]; });
  balance_levels(m, ranked);
  return ranked;
}

/// How many ranked entries are see-through, and so always held fixed.
std::size_t count_see_through(const Match& m, const std::vector<unsigned char>& ranked) {
  return static_cast<std::size_t>(std::count_if(
      ranked.begin(), ranked.end(), [&](unsigned char n) { return see_through(m, n); }));
}

/// The new colours the pixels ask for, the most used first.
std::vector<Rgba> frequent_new_colours(const Match& m) {
  std::vector<std::uint32_t> keys;
  const std::span<const Rgba> wanted = wanted_colours(m);
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    if (m.scratch->fresh[k]) keys.push_back(pack_colour(wanted[k]));
  }
  std::sort(keys.begin(), keys.end());
  std::vector<std::pair<std::size_t, std::uint32_t>> counted;
  for (std::size_t at = 0; at < keys.size();) {
    std::size_t end = at;
    while (end < keys.size() && keys[end] == keys[at])
      ++end;
    counted.emplace_back(end - at, keys[at]);
    at = end;
  }
  std::stable_sort(counted.begin(), counted.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<Rgba> colours;
  colours.reserve(counted.size());
  for (const auto& [count, key] : counted) {
    colours.push_back({static_cast<unsigned char>(key), static_cast<unsigned char>(key >> 8),
                       static_cast<unsigned char>(key >> 16),
                       static_cast<unsigned char>(key >> 24)});
  }
  return colours;
}

/// The palette kept as it is.
Candidate whole_palette(const Match& m) {
  Candidate c;
  c.palette = m.setting.palette;
  c.filled.fill(true);
  c.kept.fill(true);
  return c;
}

/// The palette with the edit's most used colours exactly, in the entries no
/// kept pixel uses and in the given_up least worth keeping of the ranked ones.
Candidate exact_colours(const Match& m, const std::vector<unsigned char>& ranked,
                        std::size_t given_up, const std::vector<Rgba>& frequent) {
  Candidate c = whole_palette(m);
  c.kind = Kind::exact;
  c.fixed = ranked.size() - given_up;
  Entries room{};
  for (std::size_t n = 0; n < 256; ++n)
    room[n] = users_of(m, n) == 0;
  for (std::size_t rank = ranked.size() - given_up; rank < ranked.size(); ++rank)
    room[ranked[rank]] = true;
  std::size_t next = 0;
  for (std::size_t n = 0; n < 256 && next < frequent.size(); ++n) {
    if (!room[n]) continue;
    c.palette[n] = tex_colour_entry(frequent[next++], m.setting.expanded);
    c.kept[n] = c.palette[n] == m.setting.palette[n];
  }
  for (std::size_t rank = ranked.size() - given_up; rank < ranked.size(); ++rank)
    c.kept[ranked[rank]] = false;  // its pixels move, to their nearest colour
  return c;
}

/// What the candidates are weighed on besides the edit's own pixels,
/// gathered once: by entry, the pixels that take it without asking for a
/// new colour, untouched ones apart.
struct Demand {
  std::array<std::size_t, 256> untouched{};
  std::array<std::size_t, 256> matched{};
};

Demand gather_demand(const Match& m) {
  Demand demand;
  for (std::size_t k = 0; k < m.image.colours.size(); ++k) {
    if (m.scratch->fresh[k]) continue;
    ++(m.scratch->untouched[k] ? demand.untouched : demand.matched)[m.result->high[k]];
  }
  return demand;
}

/// The squared distance from a colour to the nearest of the filled entries.
double nearest_distance(const Rgba& colour, const Palette& shown, const Entries& filled) {
  std::int64_t distance = 0;
  find_nearest(colour, shown, &filled, distance);
  return static_cast<double>(distance);
}

/// Floyd and Steinberg's error diffusion along the rows of a picture: the
/// error carried to each pixel of this row and the next, one place on
/// either side to spare.
class ErrorDiffusion {
 public:
  explicit ErrorDiffusion(std::size_t width) : row_(width + 2), next_row_(width + 2) {}

  /// Moves on to the next row.
  void next_row() {
    row_.swap(next_row_);
    std::fill(next_row_.begin(), next_row_.end(), std::array<float, 4>{});
  }

  /// The colour wanted at column x with the error carried to it.
  [[nodiscard]] Rgba with_error(const Rgba& wanted, std::size_t x) const {
    Rgba want{};
    for (std::size_t ch = 0; ch < 4; ++ch)
      want[ch] = static_cast<unsigned char>(
          std::clamp(static_cast<float>(wanted[ch]) + row_[x + 1][ch] + 0.5F, 0.0F, 255.0F));
    return want;
  }

  /// Spreads what is left of want at column x, shown as got, to the pixels
  /// right and below.
  void spread(const Rgba& want, const Rgba& got, std::size_t x) {
    for (std::size_t ch = 0; ch < 4; ++ch) {
      const float left = static_cast<float>(want[ch]) - static_cast<float>(got[ch]);
      row_[x + 2][ch] += left * 7 / 16;
      next_row_[x][ch] += left * 3 / 16;
      next_row_[x + 1][ch] += left * 5 / 16;
      next_row_[x + 2][ch] += left * 1 / 16;
    }
  }

 private:
  std::vector<std::array<float, 4>> row_;
  std::vector<std::array<float, 4>> next_row_;
};

/// The error the new colours' pixels come out with, dithered as
/// remap_by_nearest dithers them (Floyd and Steinberg's weights among those
/// pixels alone): nearest entries alone would favour palettes that band.
/// Reckoned where sampled on the pixels of each block of two by two that
/// the palettes were not made from (see block_x), so that none is favoured:
/// of every block, or of fewer in a large picture (at most kEditSample), and
/// counted for all.
double dithered_error(const Match& m, const Palette& shown, const Entries& filled, bool sampled) {
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

/// Weighs a candidate: the error of the whole high level against the
/// picture asked for, each pixel at its entry where that keeps its colour,
/// else at its nearest entry, the new colours dithered; the pixels the user
/// changed apart from those the user did not.
void weigh(const Match& m, const Demand& demand, bool large, Candidate& c) {
  const Palette shown = colours_of(c.palette, m.setting.expanded);
  c.edit_error = dithered_error(m, shown, c.filled, large);
  c.untouched_error = 0;
  for (std::size_t n = 0; n < 256; ++n) {
    if (c.kept[n] || demand.untouched[n] + demand.matched[n] == 0) continue;
    const double distance = nearest_distance(
        tex_entry_colour(m.setting.palette[n], m.setting.expanded), shown, c.filled);
    c.untouched_error += static_cast<double>(demand.untouched[n]) * (distance + kAnyChange);
    c.edit_error += static_cast<double>(demand.matched[n]) * distance;
  }
}

/// The picture as libimagequant is asked to reduce it, every pixel alike,
/// as pngquant takes them.
QuantizeRequest whole_picture(const Match& m) {
  QuantizeRequest request;
  request.colours = wanted_colours(m);
  request.width = m.image.width;
  request.height = m.image.height;
  return request;
}

/// One pixel of every block of two by two (see block_x): enough to make a
/// palette from.
QuantizeRequest sampled_picture(Match& m) {
  const std::size_t width = (m.image.width + 1) / 2;
  const std::size_t height = (m.image.height + 1) / 2;
  for (std::size_t j = 0; j < height; ++j) {
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t x = std::min(block_x(i, j, false), m.image.width - 1);
      const std::size_t y = std::min(block_y(i, j, false), m.image.height - 1);
      m.scratch->sample[j * width + i] = m.scratch->wanted[y * m.image.width + x];
    }
  }
  QuantizeRequest request;
  request.colours = std::span(m.scratch->sample).first(width * height);
  request.width = width;
  request.height = height;
  return request;
}

/// How much an edited pixel counts for libimagequant, by how near the
/// nearest fixed colour comes (see kServedDistance).
unsigned char edited_importance(const Rgba& colour, const NearestEntry& fixed_colours) {
  const std::int64_t distance = fixed_colours.distance_within(colour, kServedDistance);
  return static_cast<unsigned char>(
      std::max<std::int64_t>(kServedImportance, kEditedImportance * distance / kServedDistance));
}

/// The pixels that need a colour from the entries not held fixed: those
/// the user changed, fully, and the untouched ones whose entry
/// is given up, a little (see the importances above); for a large edit's
/// palettes compared, only one pixel of each block of two by two (see
/// block_x); every so many of them, at most about kEditSample. The pixels
/// that keep their entry are served already, and libimagequant works on
/// what is left faster.
QuantizeRequest edit_pixels(Match& m, const Entries& fixed, std::span<const Rgba> fixed_colours,
                            bool trial) {
  const std::span<const Rgba> wanted = wanted_colours(m);
  const std::size_t columns = m.image.width;
  bool in_blocks = trial && large_edit(m);
  const auto needs = [&](std::size_t x, std::size_t y) {
    const std::size_t k = y * columns + x;
    const bool sampled =
        !in_blocks || (x == block_x(x / 2, y / 2, false) && y == block_y(x / 2, y / 2, false));
    return sampled && (m.scratch->fresh[k] || !fixed[m.result->high[k]]);
  };
  const auto count_needs = [&]() {
    std::size_t count = 0;
    for (std::size_t y = 0; y < m.image.height; ++y) {
      for (std::size_t x = 0; x < columns; ++x)
        count += needs(x, y) ? 1 : 0;
    }
    return count;
  };
  std::size_t count = count_needs();
  if (count == 0) {  // an edit that misses every block's corner: all of it
    in_blocks = false;
    count = count_needs();
  }
  // Every so many of them, by a hash of their place: every other one along
  // a row would miss a colour of alternate columns.
  const std::size_t step = std::max<std::size_t>(1, (count + kEditSample - 1) / kEditSample);
  std::size_t taken = 0;
  Palette served{};  // the fixed colours, each once
  Entries listed{};
  std::copy(fixed_colours.begin(), fixed_colours.end(), served.begin());
  std::fill_n(listed.begin(), fixed_colours.size(), true);
  const NearestEntry nearest_fixed(served, &listed);
  for (std::size_t y = 0; y < m.image.height; ++y) {
    for (std::size_t x = 0; x < columns && taken < m.scratch->sample.size(); ++x) {
      const std::size_t k = y * columns + x;
      if (!needs(x, y) || hash_slot<16>(static_cast<std::uint32_t>(k)) % step != 0) continue;
      m.scratch->sample[taken] = wanted[k];
      m.scratch->sample_importance[taken++] = m.scratch->untouched[k]
                                                  ? kGivenUpImportance
                                                  : edited_importance(wanted[k], nearest_fixed);
    }
  }
  QuantizeRequest request;
  // In rows as wide as the picture's (of a large edit, its sampled grid's),
  // less what does not fill the last. (In one row the palettes chosen came
  // out worse: the text edit 1.05 times pngquant's error against 1.00, and
  // two photo quarters kept 91.9 and 96.3 % against 94.5 and 96.5 %. Not
  // for libimagequant's weighing by the neighbours' contrast: it skips that
  // when it is given an importance map, as here.)
  const std::size_t row = std::max<std::size_t>(1, m.image.width / (in_blocks ? 2 : 1));
  const std::size_t width = taken >= 4 * row ? row : taken;
  const std::size_t height = width == 0 ? 0 : taken / width;
  request.colours = std::span(m.scratch->sample).first(width * height);
  request.width = width;
  request.height = height;
  request.importance = std::span(m.scratch->sample_importance).first(width * height);
  return request;
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

/// The rows from the first to the last that hold a pixel of a new colour,
/// as pixels of the picture: all of it when there is none.
std::span<const Rgba> edited_rows(const Match& m, std::size_t& first) {
  const std::span<const Rgba> wanted = wanted_colours(m);
  const std::size_t width = m.image.width;
  std::size_t last = 0;
  first = m.image.height;
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    if (!m.scratch->fresh[k]) continue;
    first = std::min(first, k / width);
    last = k / width;
  }
  if (first > last) first = last = 0;
  if (wanted.empty()) return wanted;
  return wanted.subspan(first * width, (last + 1 - first) * width);
}

/// A palette from libimagequant holding the first count ranked entries
/// fixed and making the rest for the edit, or, with none held (but
/// see-through ones), for the whole picture; with the picture remapped into
/// remapped if that is not empty.
bool remade_palette(Match& m, const std::vector<unsigned char>& ranked, std::size_t count,
                    int speed, std::span<unsigned char> remapped, Candidate& c,
                    std::array<int, 256>& place) {
  Entries fixed{};
  std::vector<Rgba> colours;  // each fixed colour once; libimagequant takes all see-through as one
  for (std::size_t rank = 0; rank < count; ++rank) {
    fixed[ranked[rank]] = true;
    Rgba colour = tex_entry_colour(m.setting.palette[ranked[rank]], m.setting.expanded);
    if (colour[3] == 0) colour = {0, 0, 0, 0};
    if (std::find(colours.begin(), colours.end(), colour) == colours.end())
      colours.push_back(colour);
  }
  const bool fresh = count == count_see_through(m, ranked);
  const bool trial = remapped.empty();
  QuantizeRequest request = !fresh  ? edit_pixels(m, fixed, colours, trial)
                            : trial ? sampled_picture(m)
                                    : whole_picture(m);
  request.speed = speed;
  if (!fresh && trial && 256 - count >= 2) {
    // A palette only compared is made without the fixed colours, with room
    // for the rest: the median cut does not use them, and its one
    // refinement only a little (with them, the counts chosen on the
    // benchmark differed by a few entries, either way). libimagequant works
    // out 256 powers for each fixed colour it is given, a tenth of a small
    // edit's time.
    request.max_colours = static_cast<int>(256 - count);
  } else {
    request.fixed = colours;
    // Room for every fixed entry, each at its place, however many share a colour.
    request.max_colours = static_cast<int>(256 - (count - colours.size()));
  }
  request.remapped = remapped;
  if (!fresh && !trial) {
    // Only the edit's pixels take what libimagequant's dithering gives, and
    // it carries no error upward: the rows that hold them are enough.
    std::size_t first = 0;
    request.remap_colours = edited_rows(m, first);
    request.remap_width = m.image.width;
    request.remapped = remapped.subspan(first * m.image.width, request.remap_colours.size());
  }
  Quantized made;
  if (!quantize(request, made)) return false;
  c.kind = fresh ? Kind::fresh : Kind::remade;
  c.fixed = count;
  place_palette(m, made, fixed, c, place);
  return true;
}

/// The numbers of ranked entries given up for the edit's own colours: a few
/// of the least worth keeping, never more than the edit has new colours.
std::vector<std::size_t> entries_to_give_up(std::size_t ranked, std::size_t see_through,
                                            std::size_t new_colours) {
  std::vector<std::size_t> counts;
  for (const std::size_t count : {1U, 2U, 4U, 8U, 16U, 32U, 64U}) {
    if (count <= ranked - see_through && count <= new_colours) counts.push_back(count);
  }
  return counts;
}

/// The numbers of ranked entries held fixed while libimagequant remakes the
/// rest: all of them (only the free entries are made anew), all but a few,
/// down to half, and none (a repaint needs room); refine_fixed_count tries
/// more between two of them. A small edit tries only the first few and
/// none, which its error is held against: on the benchmark's logo, text and
/// ellipse the others never won, and each costs a trial.
std::vector<std::size_t> entries_to_fix(std::size_t ranked, std::size_t see_through, bool large) {
  const std::size_t most = std::min<std::size_t>(ranked, 255);
  std::vector<std::size_t> counts = {most, most * 15 / 16, most * 7 / 8, most * 3 / 4, 0};
  if (large) counts = {most, most * 7 / 8, most * 3 / 4, most * 5 / 8, most / 2, 0};
  for (std::size_t& count : counts)
    count = std::max(count, see_through);
  std::sort(counts.begin(), counts.end());
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
  return counts;
}

/// The fresh reduction of the whole picture among the candidates.
const Candidate& fresh_candidate(const std::vector<Candidate>& candidates) {
  return *std::find_if(candidates.begin(), candidates.end(),
                       [](const Candidate& c) { return c.kind == Kind::fresh; });
}

/// How much error the edit may come out with, as the candidates count it:
/// margin times (root mean square) its error after the fresh reduction, that
/// taken as at least kLeastEditError for each pixel the user changed. A
/// fresh reduction that gives every colour exactly would otherwise leave no
/// room at all, and the picture would be reduced afresh for want of it.
double allowed_error(const Match& m, const std::vector<Candidate>& candidates, double margin) {
  const auto untouched = std::span(m.scratch->untouched).first(m.image.colours.size());
  const auto changed = static_cast<double>(std::count(untouched.begin(), untouched.end(), false));
  return margin * margin *
         std::max(fresh_candidate(candidates).edit_error, kLeastEditError * changed);
}

/// The candidate chosen: of those that keep the edit's error within
/// allowed, the one of least weighted error, an untouched pixel that
/// changes colour counting kUntouchedWeight times the same error in the
/// edit; the fresh reduction where none does.
const Candidate& least_weighted(const std::vector<Candidate>& candidates, double allowed) {
  const Candidate* best = &fresh_candidate(candidates);
  double least = std::numeric_limits<double>::max();
  for (const Candidate& c : candidates) {
    const double weighted = c.edit_error + kUntouchedWeight * c.untouched_error;
    if (c.edit_error <= allowed && weighted < least) {
      least = weighted;
      best = &c;
    }
  }
  return *best;
}

/// Adds the palette that holds count ranked entries fixed, made at the
/// trials' speed and weighed. False when libimagequant fails.
bool add_remade(Match& m, const std::vector<unsigned char>& ranked, std::size_t count,
                const Demand& demand, bool large, std::vector<Candidate>& candidates) {
  Candidate trial;
  std::array<int, 256> place{};
  if (!remade_palette(m, ranked, count, kTrialSpeed, {}, trial, place)) return false;
  weigh(m, demand, large, trial);
  candidates.push_back(trial);
  return true;
}

/// Tries counts of fixed entries between the one chosen and the next larger
/// one tried, halving the gap kRefinements times: towards the larger where
/// the count halfway is chosen, else towards the smaller. False when
/// libimagequant fails.
bool refine_fixed_count(Match& m, const std::vector<unsigned char>& ranked, const Demand& demand,
                        bool large, double allowed, std::vector<Candidate>& candidates) {
  const Candidate& chosen = least_weighted(candidates, allowed);
  if (chosen.kind != Kind::remade && chosen.kind != Kind::fresh) return true;
  std::size_t low = chosen.fixed;
  std::size_t high = low;
  for (const Candidate& c : candidates) {
    if (c.kind == Kind::remade && c.fixed > low && (high == low || c.fixed < high)) high = c.fixed;
  }
  for (int step = 0; step < kRefinements && low + 1 < high; ++step) {
    const std::size_t middle = (low + high) / 2;
    if (!add_remade(m, ranked, middle, demand, large, candidates)) return false;
    const Candidate& best = least_weighted(candidates, allowed);
    (best.kind == Kind::remade && best.fixed == middle ? low : high) = middle;
  }
  return true;
}

/// The candidates: the palette kept whole, the edit's most used colours in
/// the places of a few of the least used entries, and palettes holding some
/// of the kept entries fixed with libimagequant's colours in the others,
/// down to the fresh reduction, which holds none (but see-through ones).
/// Returns the one chosen; false when libimagequant fails.
bool choose_candidate(Match& m, const std::vector<unsigned char>& ranked, Candidate& chosen) {
  chosen = whole_palette(m);
  if (m.policy == PalettePolicy::keep) return true;
  const std::size_t clear = count_see_through(m, ranked);
  const bool large = large_edit(m);
  std::vector<Candidate> candidates;
  std::vector<std::size_t> fixed_counts = {clear};
  if (m.policy == PalettePolicy::choose) {
    if (!large) {
      const std::vector<Rgba> frequent = frequent_new_colours(m);
      std::vector<std::size_t> given_up = entries_to_give_up(ranked.size(), clear, frequent.size());
      given_up.insert(given_up.begin(), 0);
      for (const std::size_t count : given_up)
        candidates.push_back(exact_colours(m, ranked, count, frequent));
    }
    fixed_counts = entries_to_fix(ranked.size(), clear, large);
    std::reverse(fixed_counts.begin(), fixed_counts.end());
  }
  if (candidates.empty() && fixed_counts.size() == 1) {
    // The fresh reduction is the only way (nothing is kept, or the user
    // asked for it): nothing to weigh it against.
    chosen.kind = Kind::fresh;
    chosen.fixed = fixed_counts.front();
    return true;
  }
  const Demand demand = gather_demand(m);
  for (Candidate& c : candidates)
    weigh(m, demand, large, c);
  for (const std::size_t count : fixed_counts) {
    if (!add_remade(m, ranked, count, demand, large, candidates)) return false;
  }
  const double allowed = allowed_error(m, candidates, edit_margin(m, large));
  if (!refine_fixed_count(m, ranked, demand, large, allowed, candidates)) return false;
  chosen = least_weighted(candidates, allowed);
  return true;
}

/// Gives every pixel its entry of a palette that kept the places of the
/// colours it held: a pixel the edit did not touch keeps its index where
/// that entry kept its colour, else takes the nearest one; a new colour its
/// entry where the palette holds it exactly, else its nearest, dithered
/// (Floyd and Steinberg's weights) among the new colours' pixels alone, so
/// that nothing the user did not touch changes.
void remap_by_nearest(Match& m, const Candidate& c) {
  const Palette shown = colours_of(c.palette, m.setting.expanded);
  NearestEntry nearest(shown, &c.filled);
  const std::span<const Rgba> wanted = wanted_colours(m);
  std::array<unsigned char, kTexMaxPixels>& high = m.result->high;
  const std::size_t width = m.image.width;
  ErrorDiffusion diffusion(width);
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    const std::size_t x = k % width;
    if (x == 0 && k > 0) diffusion.next_row();
    if (!m.scratch->fresh[k]) {
      if (!c.kept[high[k]]) high[k] = nearest.find(wanted[k]);
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
    const int dithered = touched ? place[m.scratch->remapped[k]] : -1;
    if (exact >= 0) {
      high[k] = static_cast<unsigned char>(exact);
      ++m.counts.reduction.exact_pixels;
    } else if (dithered >= 0) {
      high[k] = static_cast<unsigned char>(dithered);
      ++m.counts.reduction.dithered_pixels;
    } else {
      // Untouched, or a colour libimagequant found no room for.
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
  constexpr std::int64_t kFar = std::numeric_limits<std::int64_t>::max();
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    const Rgba& want = wanted[k];
    const bool other_alpha = colours[high[k]][3] != want[3];
    const bool other_clear = want[3] == 0 && colours[high[k]] != want;
    if ((want[3] != 0 && want[3] != 255) || !(other_alpha || other_clear)) continue;
    if (!m.scratch->fresh[k] && c.kept[high[k]]) continue;  // untouched: kept as it was
    std::int64_t best =
        colours[high[k]][3] == want[3] ? colour_distance(colours[high[k]], want, kFar) : kFar;
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

}  // namespace

bool reduce_colours(Match& m) {
  Reduction& reduction = m.counts.reduction;
  reduction = {};
  reduction.image_colours = count_image_colours(m);
  const std::vector<unsigned char> ranked = rank_kept_entries(m);
  Candidate chosen;
  if (!choose_candidate(m, ranked, chosen)) return false;

  reduction.fitting = chosen.kind == Kind::whole   ? Fitting::kept
                      : chosen.kind == Kind::exact ? Fitting::exact
                                                   : Fitting::remade;
  // A palette from libimagequant is made again at pngquant's speed, with
  // the picture remapped into it.
  const bool from_libimagequant = chosen.kind == Kind::remade || chosen.kind == Kind::fresh;
  std::array<int, 256> place{};
  if (from_libimagequant &&
      !remade_palette(m, ranked, chosen.fixed, kFinalSpeed, m.scratch->remapped, chosen, place))
    return false;
  for (std::size_t n = 0; n < 256; ++n)
    reduction.remade_entries += chosen.filled[n] && !chosen.kept[n] ? 1 : 0;
  m.before = m.setting.palette;
  m.setting.palette = chosen.palette;
  if (from_libimagequant) {
    remap_into_remade_palette(m, chosen, place);
  } else {
    remap_by_nearest(m, chosen);
  }
  keep_exact_alpha(m, chosen);
  reduction.mean_square_error = mean_square_error(m);

  if (m.old.usable) reduction.untouched_changed = count_untouched_changed(m);
  m.counts.reduced = true;
  return true;
}
