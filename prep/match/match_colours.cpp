#include "prep/match/matching.h"
#include "prep/prep_work.h"

bool match_colours(Match& m) {
  choose_how_pixels_are_taken(m);
  take_high_level(m);
  // The entries no pixel that keeps its colour uses, at any level, are free.
  count_high_users(m);
  count_reused_entries(m);
  unsigned long free_entries = 0;
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n)
    free_entries += users_of(m, n) == 0 ? 1 : 0;
  m.counts.free_entries = free_entries;
  // New colours that fit take free entries, unless the palette is to be
  // kept as it is or made afresh.
  const bool fits = m.counts.fresh_colours <= m.counts.free_entries;
  if (m.policy == PalettePolicy::remake ||
      (m.counts.fresh_colours > 0 && (!fits || m.policy == PalettePolicy::keep))) {
    if (!reduce_colours(m)) return false;
  } else {
    place_new_colours(m);
  }
  make_lower_levels(m);
  count_holes(m);
  return true;
}
