#include "prep/match/colour_search.h"
#include "prep/prep_work.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "prep/colours.h"
#include "prep/match/tuning.h"

namespace {

/// The share of each level's kept pixels given up so far, by level.
struct LostShares {
  std::array<double, kTexLevelCount> total{};
  std::array<double, kTexLevelCount> lost{};

  /// Level's share once entry n is given up too.
  [[nodiscard]] double with(const Match& m, std::size_t level, unsigned char n) const {
    return total[level] == 0
               ? 0
               : (lost[level] + static_cast<double>(m.users[level][n])) / total[level];
  }

  /// Whether giving up n leaves the lower levels no larger share lost than the high level.
  [[nodiscard]] bool balanced(const Match& m, unsigned char n) const {
    for (std::size_t level = 1; level < kTexLevelCount; ++level) {
      if (with(m, level, n) > with(m, 0, n)) return false;
    }
    return true;
  }
};

/// Reorders the entries given up first (the end of ranked) so that, however
/// many are given up, the medium and low levels lose no larger share of the
/// pixels that keep their colour than the high level does, where one of the
/// next few entries allows it: each next one given up is the cheapest of
/// those that keeps that, else the cheapest. The lower levels are what a
/// texture shows from a distance, and the cost alone, counting their pixels
/// by the area they cover, left them short on some pictures (see
/// kBalanceLookAhead in bench/README.md).
void balance_levels(const Match& m, const EntrySet& held, std::vector<unsigned char>& ranked) {
  LostShares shares;
  for (std::size_t level = 0; level < kTexLevelCount; ++level) {
    for (std::size_t n = 0; n < kTexPaletteEntries; ++n)
      shares.total[level] += static_cast<double>(m.users[level][n]);
  }
  std::vector<unsigned char> left(ranked.rbegin(), ranked.rend());  // cheapest first
  std::vector<unsigned char> given_up;
  while (!left.empty()) {
    std::size_t pick = 0;
    for (std::size_t i = 0; i < std::min(left.size(), kBalanceLookAhead); ++i) {
      if (held[left[i]]) break;  // always kept, last
      if (shares.balanced(m, left[i])) {
        pick = i;
        break;
      }
    }
    for (std::size_t level = 0; level < kTexLevelCount; ++level)
      shares.lost[level] += static_cast<double>(m.users[level][left[pick]]);
    given_up.push_back(left[pick]);
    left.erase(left.begin() + static_cast<std::ptrdiff_t>(pick));
  }
  ranked.assign(given_up.rbegin(), given_up.rend());
}

}  // namespace

void rank_kept_entries(ColourSearch& s) {
  const Match& m = s.m;
  const Palette colours = colours_of(m.setting.palette, m.setting.expanded);
  std::vector<unsigned char>& ranked = s.ranked;
  ranked.clear();
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n) {
    if (users_of(m, n) > 0) ranked.push_back(static_cast<unsigned char>(n));
  }
  std::array<double, kTexPaletteEntries> cost{};
  for (const unsigned char n : ranked) {
    std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
    for (const unsigned char other : ranked) {  // its pixels keep their alpha
      if (other != n && colours[other][3] == colours[n][3])
        nearest = std::min(nearest, colour_distance(colours[n], colours[other], nearest));
    }
    cost[n] = static_cast<double>(users_of(m, n)) *
              (std::sqrt(static_cast<double>(nearest)) + std::sqrt(kAnyMove));
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [&](unsigned char a, unsigned char b) { return cost[a] > cost[b]; });
  // Held: every see-through entry, whose colour libimagequant would lose,
  // and of each other alpha the first, the most worth keeping.
  EntrySet held{};
  std::array<bool, 256> alpha_held{};
  for (const unsigned char n : ranked) {
    const unsigned char alpha = colours[n][3];
    held[n] = alpha == 0 || !alpha_held[alpha];
    alpha_held[alpha] = true;
  }
  std::stable_partition(ranked.begin(), ranked.end(), [&](unsigned char n) { return held[n]; });
  balance_levels(m, held, ranked);
  s.held = static_cast<std::size_t>(
      std::count_if(ranked.begin(), ranked.end(), [&](unsigned char n) { return held[n]; }));
}
