#pragma once

#include "prep/prep_work.h"

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
