#pragma once

// Matching an edited picture to a palette: the steps that make the three
// levels, as match_colours takes them. Each file of them includes this.

struct Match;

/// The matching part of skinprep, on a match whose image, texture
/// and palette setting are given: makes the three levels into m.result. The
/// high level's indices come from the image's own indices or its colours,
/// new colours go into free entries of the palette (or, when they do not
/// fit, the palette is made anew for the whole picture), and the lower
/// levels are reused from the texture where the picture did not change.
/// False when the colours could not be reduced.
bool match_colours(Match& m);

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

// The medium and low levels: the texture's own pixels wherever their 2 × 2
// and 4 × 4 blocks did not change, made from the picture elsewhere.

/// Adds to the entries' users the texture's lower-level pixels that are
/// reused, each as the high-level pixels it stands for, so that a new colour
/// never takes an entry one of them needs.
void count_reused_entries(Match& m);

/// Makes the medium and low levels, reusing the texture's pixels where the
/// picture did not change and averaging the blocks that did as light.
void make_lower_levels(Match& m);

// When an edit brings more new colours than the palette has room for, the
// palette is made anew for the whole picture by libimagequant.

/// Makes the palette anew (256 colours at most, the rest of the entries
/// zero) and the high level's indices. Of the entries that pixels keeping
/// their colour use (the users, at all three levels), those that would cost
/// most to lose are held fixed, as many as keep the error near its least,
/// and keep their index where they survive. A pixel whose colour the new
/// palette holds takes that entry, a kept pixel whose colour was dropped the
/// nearest one, the others are dithered by libimagequant, and a pixel of
/// alpha 0 or 255 keeps exactly that alpha where the palette has an entry
/// with it. The palette before is kept in m.before. False when
/// libimagequant fails (out of memory, say).
bool reduce_colours(Match& m);
