#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/tex.h"
#include "formats/tga.h"
#include "prep/reduce_colours.h"

// How skinprep turns an edited image into the three levels of a texture:
// indices follow colours, the palette and every unchanged index are kept,
// and the lower levels are made again only where the picture changed.

/// The edited image, in the TEX file's pixel order.
struct EditedImage {
  std::size_t width = 0;
  std::size_t height = 0;
  std::span<const TgaColour> colours;
  std::span<const unsigned char> indices;  ///< an 8-bit colour-mapped image's; else empty
  const TgaColourMap* map = nullptr;       ///< its colour map; else null
  bool has_alpha = false;                  ///< some pixel brings an alpha of its own
};

/// The texture being replaced, when it can serve as reference.
struct OldTexture {
  bool usable = false;
  const TexPalette* palette = nullptr;
  const TexLevels* levels = nullptr;
};

/// The palette the result uses. Entries hold their bytes as the TEX file
/// does; expanded says they show as sub-type 14 shows them (bytes 0, 1, 2, 3
/// are red, green, blue, alpha) rather than as sub-type 1 (2, 1, 0, 3).
struct PaletteSetting {
  TexPalette palette{};     ///< the palette to keep; new colours are added to it
  bool from_image = false;  ///< no palette to keep: it is made from the image
  bool expanded = false;
};

/// Whose alpha the result has.
enum class AlphaSource {
  texture,               ///< the image has none: the texture's entry at each place, or opaque
  image,                 ///< the image's own
  texture_where_opaque,  ///< added by a paint program: the texture's where the image is opaque
};

/// What the summary tells the user (as unsigned long, which every printf prints).
struct MatchCounts {
  unsigned long kept = 0;     ///< high-level pixels that kept their index
  unsigned long matched = 0;  ///< found by colour in the palette
  unsigned long fresh_pixels = 0;
  unsigned long fresh_colours = 0;
  std::array<bool, 256> entries_taken{};  ///< by new colours
  unsigned long medium_reused = 0;
  unsigned long medium_made = 0;
  unsigned long low_reused = 0;
  unsigned long low_made = 0;
  unsigned long free_entries = 0;  ///< for the new colours
  bool reduced = false;            ///< the new colours did not fit: the palette was made anew
  Reduction reduction;
  AlphaSource alpha = AlphaSource::texture;
  unsigned long holes = 0;               ///< opaque in the texture, translucent now, unseen
  std::array<bool, 256> hole_entries{};  ///< the entries those pixels use
};

/// How the high level's colours were found room for.
enum class MatchResult {
  exact,             ///< every pixel has exactly its colour
  reduced,           ///< too many new colours: the palette was made anew
  reduction_failed,  ///< libimagequant could not make one
};

/// Per-pixel storage the matching needs, kept by the caller with the rest of
/// its fixed work area.
struct MatchScratch {
  std::array<bool, kTexMaxPixels> fresh;          ///< the pixel has a new colour
  std::array<std::uint32_t, kTexMaxPixels> keys;  ///< new colours, to count them
  std::array<TgaColour, kTexMaxPixels> wanted;    ///< each pixel's colour with its alpha
};

/// Makes the three levels of result from the edited image: the high level's
/// indices by the image's own indices or by colour, new colours into free
/// entries of setting.palette (or, when they do not fit, a palette made anew
/// for the whole picture), and the lower levels reused from the old texture
/// where the picture did not change, made from their blocks elsewhere.
MatchResult match_colours(const EditedImage& image, const OldTexture& old, PaletteSetting& setting,
                          TexLevels& result, MatchCounts& counts, MatchScratch& scratch);
