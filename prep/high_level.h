#pragma once

#include "prep/prep_work.h"

// The high level: every pixel's index, by the image's own index or by its
// colour; new colours into the entries no kept pixel uses.

/// Decides once how the pixels are taken: by the image's own indices when
/// its colour map is the palette (or the texture's), else by colour; and
/// whose alpha they have.
void choose_how_pixels_are_taken(Match& m);

/// Takes every high-level pixel the way chosen: the texture's own index
/// where its entry has the colour, else the lowest entry that has it, else
/// it is a new colour (marked fresh, its key gathered). Counts the new
/// colours and the pixels that have them.
void take_high_level(Match& m);

/// Counts, by entry, the high-level pixels that keep their colour.
void count_high_users(Match& m);

/// Gives each new colour an entry that no kept pixel uses, in the order the
/// colours first appear in the pixels, lowest free entry first.
void place_new_colours(Match& m);

/// Counts the pixels that were opaque in the texture and are translucent in
/// the result while the image has no alpha to show it: indices taken from an
/// indexed image, or colours snapped to translucent entries, punch holes the
/// user could not see.
void count_holes(Match& m);
