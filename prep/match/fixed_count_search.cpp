#include "prep/match/colour_search.h"
#include "prep/prep_work.h"

#include <algorithm>

#include "prep/match/tuning.h"

namespace {

/// The numbers of ranked entries given up for the edit's own colours: a few
/// of the least worth keeping, never more than the edit has new colours.
std::vector<std::size_t> entries_to_give_up(const ColourSearch& s, std::size_t new_colours) {
  std::vector<std::size_t> counts;
  for (const std::size_t count : kEntriesGivenUp) {
    if (count <= s.ranked.size() - s.held && count <= new_colours) counts.push_back(count);
  }
  return counts;
}

/// The numbers of ranked entries held fixed while libimagequant remakes the
/// rest, most first: shares of them (only the free entries are made anew
/// when all are held), and none (a repaint needs room), never fewer than
/// the see-through ones; refine_fixed_count tries more between two of them.
std::vector<std::size_t> entries_to_fix(const ColourSearch& s) {
  const std::size_t most = std::min<std::size_t>(s.ranked.size(), kTexPaletteEntries - 1);
  std::vector<std::size_t> counts;
  const std::span<const std::size_t> shares = s.large
                                                  ? std::span<const std::size_t>(kLargeEditFixed)
                                                  : std::span<const std::size_t>(kSmallEditFixed);
  for (const std::size_t sixteenths : shares)
    counts.push_back(most * sixteenths / 16);
  counts.push_back(0);
  for (std::size_t& count : counts)
    count = std::max(count, s.held);
  std::sort(counts.begin(), counts.end());
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
  std::reverse(counts.begin(), counts.end());
  return counts;
}

/// Adds the palette that holds count ranked entries fixed, made as a trial
/// and weighed. False when libimagequant fails.
bool add_remade(ColourSearch& s, std::size_t count) {
  Candidate trial;
  if (!remade_palette(s, count, Pass::trial, trial)) return false;
  weigh(s, trial);
  s.candidates.push_back(trial);
  return true;
}

/// Tries counts of fixed entries between the one chosen and the next larger
/// one tried, halving the gap kRefinements times: towards the larger where
/// the count halfway is chosen, else towards the smaller. False when
/// libimagequant fails.
bool refine_fixed_count(ColourSearch& s) {
  const Candidate& chosen = least_weighted(s);
  if (chosen.kind != Kind::remade && chosen.kind != Kind::anew) return true;
  std::size_t low = chosen.fixed;
  std::size_t high = low;
  for (const Candidate& c : s.candidates) {
    if (c.kind == Kind::remade && c.fixed > low && (high == low || c.fixed < high)) high = c.fixed;
  }
  for (int step = 0; step < kRefinements && low + 1 < high; ++step) {
    const std::size_t middle = (low + high) / 2;
    if (!add_remade(s, middle)) return false;
    const Candidate& best = least_weighted(s);
    (best.kind == Kind::remade && best.fixed == middle ? low : high) = middle;
  }
  return true;
}

/// The exact-colour candidates of a small edit: none given up, then each
/// count of kEntriesGivenUp that fits.
void add_exact_candidates(ColourSearch& s) {
  const std::vector<Rgba> frequent = frequent_new_colours(s.m);
  std::vector<std::size_t> given_up = entries_to_give_up(s, frequent.size());
  given_up.insert(given_up.begin(), 0);
  for (const std::size_t count : given_up)
    s.candidates.push_back(exact_colours(s, count, frequent));
}

}  // namespace

bool choose_candidate(ColourSearch& s, Candidate& chosen) {
  chosen = whole_palette(s.m);
  if (s.m.policy == PalettePolicy::keep) return true;
  std::vector<std::size_t> fixed_counts = {s.held};
  if (s.m.policy == PalettePolicy::choose) {
    if (!s.large) add_exact_candidates(s);
    fixed_counts = entries_to_fix(s);
  }
  if (s.candidates.empty() && fixed_counts.size() == 1) {
    // The fresh reduction is the only way (nothing is kept, or the user
    // asked for it): nothing to weigh it against.
    chosen.kind = Kind::anew;
    chosen.fixed = fixed_counts.front();
    return true;
  }
  gather_demand(s);
  for (Candidate& c : s.candidates)
    weigh(s, c);
  for (const std::size_t count : fixed_counts) {
    if (!add_remade(s, count)) return false;
  }
  allow_error(s);
  if (!refine_fixed_count(s)) return false;
  chosen = least_weighted(s);
  return true;
}
