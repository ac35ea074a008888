#pragma once

#include <cstdint>

#include "formats/tex.h"
#include "formats/tga.h"

// A palette entry holds its bytes as the TEX file does. What colour they
// show depends on the sub-type: sub-type 1 (and its palette file and colour
// map) has blue, green, red, alpha; the split image of sub-type 14 shows
// bytes 0, 1, 2, 3 as red, green, blue, alpha ("expanded").

/// The colour a palette entry shows: red, green, blue, alpha.
inline TgaColour entry_colour(const TexPaletteEntry& e, bool expanded) {
  return expanded ? TgaColour{e[0], e[1], e[2], e[3]} : TgaColour{e[2], e[1], e[0], e[3]};
}

/// The entry that shows a colour.
inline TexPaletteEntry colour_entry(const TgaColour& c, bool expanded) {
  return expanded ? TexPaletteEntry{c[0], c[1], c[2], c[3]}
                  : TexPaletteEntry{c[2], c[1], c[0], c[3]};
}

/// A colour as one number, to compare, sort and look colours up by.
inline std::uint32_t pack_colour(const TgaColour& c) {
  return static_cast<std::uint32_t>(c[0]) | (static_cast<std::uint32_t>(c[1]) << 8) |
         (static_cast<std::uint32_t>(c[2]) << 16) | (static_cast<std::uint32_t>(c[3]) << 24);
}
