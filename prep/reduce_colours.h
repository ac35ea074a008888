#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "formats/tex.h"
#include "formats/tga.h"

// When an edit brings more new colours than the palette has room for, the
// palette is made anew for the whole picture by libimagequant.

/// What the reduction did, for the summary.
struct Reduction {
  unsigned long image_colours = 0;  ///< distinct colours the pixels asked for, alpha included
  unsigned long fixed_entries = 0;  ///< entries handed to libimagequant as fixed colours
  unsigned long kept_places = 0;    ///< entries of the new palette at the index they had
  unsigned long exact_pixels = 0;   ///< pixels whose colour the new palette holds exactly
  unsigned long dithered_pixels = 0;
  double mean_square_error = 0;  ///< as libimagequant reports it for the remapped picture
  int quality = 0;               ///< libimagequant's 0 to 100
};

/// The picture to reduce: every pixel's colour, rows of width pixels.
struct ReductionInput {
  std::span<const TgaColour> colours;
  /// Which pixels have colours the old palette lacks (the edit); the others
  /// kept theirs.
  std::span<const bool> fresh;
  std::size_t width = 0;
  std::size_t height = 0;
  /// Entries whose colours pixels that kept them still use, most worth
  /// keeping first. As many of the first of them as give the least error are
  /// handed to libimagequant as fixed colours, and keep their index where
  /// they survive.
  std::vector<unsigned char> kept;
  bool expanded = false;  ///< palette entries show as sub-type 14 shows them
};

/// Makes palette anew (256 colours at most, the rest of the entries zero) and
/// the high level's indices: a pixel whose colour the new palette holds takes
/// that entry, the others are remapped with libimagequant's dithering, and a
/// pixel of alpha 0 or 255 keeps exactly that alpha where the palette has an
/// entry with it. Counts the image's colours with sort_space, which holds
/// one number a pixel. False when libimagequant fails (out of memory, say).
bool reduce_colours(const ReductionInput& input, TexPalette& palette, std::span<unsigned char> high,
                    std::span<std::uint32_t> sort_space, Reduction& reduction);
