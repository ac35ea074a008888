#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/colour.h"
#include "formats/tex.h"
#include "formats/tga.h"

// The records skinprep's steps share: what was read, what was decided once,
// and what was made. A step takes the match and whatever is its own.

/// The edited image as read from its file: a TGA or a PNG image.
struct ImageFile {
  std::string name;        ///< the file read
  std::string left_aside;  ///< the other of tga/NAME.tga and tga/NAME.png, older, if both are there
  bool png = false;
  TgaHeader header;            ///< a TGA image's
  ColourMap map;               ///< the colour map of a TGA image, the palette of a PNG image
  bool indexed = false;        ///< its pixels are indices into map, which may be taken as they are
  bool alpha_channel = false;  ///< its pixels or map can carry alpha
  unsigned pixel_bytes = 0;
  std::size_t width = 0;
  std::size_t height = 0;
};

/// The edited image, in the TEX file's pixel order.
struct EditedImage {
  std::size_t width = 0;
  std::size_t height = 0;
  std::span<const Rgba> colours;
  std::span<const unsigned char> indices;  ///< an 8-bit colour-mapped image's; else empty
  const ColourMap* map = nullptr;          ///< its colour map; else null
  bool has_alpha = false;                  ///< some pixel brings an alpha of its own
};

/// The texture being replaced: whether it can serve as reference, and if
/// not, why.
struct OldTexture {
  bool found = false;  ///< there is a TEX file of that name
  bool usable = false;
  TexSubtype subtype = TexSubtype::indexed;
  std::string left_aside;   ///< why a texture that exists is not used
  bool other_size = false;  ///< it was left aside for a size other than the image's
  unsigned x = 0;           ///< its size, when other_size
  unsigned y = 0;
  const TexPalette* palette = nullptr;  ///< when usable
  const TexLevels* levels = nullptr;    ///< when usable
};

/// Where the palette of the result comes from.
enum class PaletteSource { palette_file, texture, image };

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

/// What a reduction of the colours did, for the summary.
struct Reduction {
  unsigned long image_colours = 0;  ///< distinct colours the pixels asked for, alpha included
  unsigned long fixed_entries = 0;  ///< entries handed to libimagequant as fixed colours
  unsigned long kept_places = 0;    ///< entries of the new palette at the index they had
  unsigned long exact_pixels = 0;   ///< pixels whose colour the new palette holds exactly
  unsigned long dithered_pixels = 0;
  double mean_square_error = 0;  ///< as libimagequant reports it for the remapped picture
  int quality = 0;               ///< libimagequant's 0 to 100
};

/// What the summary tells the user (as unsigned long, which every printf prints).
struct MatchCounts {
  unsigned long kept = 0;     ///< high-level pixels that kept their index
  unsigned long matched = 0;  ///< found by colour in the palette
  unsigned long fresh_pixels = 0;
  unsigned long fresh_colours = 0;
  std::array<bool, 256> entries_taken{};               ///< by new colours
  std::array<unsigned long, kTexLevelCount> reused{};  ///< lower-level pixels, by level
  std::array<unsigned long, kTexLevelCount> made{};
  unsigned long free_entries = 0;  ///< for the new colours
  bool reduced = false;            ///< the new colours did not fit: the palette was made anew
  Reduction reduction;
  unsigned long holes = 0;               ///< opaque in the texture, translucent now, unseen
  std::array<bool, 256> hole_entries{};  ///< the entries those pixels use
};

/// Per-pixel storage the matching needs, kept with the rest of the fixed
/// work area.
struct MatchScratch {
  std::array<bool, kTexMaxPixels> fresh;          ///< the pixel has a new colour
  std::array<std::uint32_t, kTexMaxPixels> keys;  ///< new colours, to count them
  std::array<Rgba, kTexMaxPixels> wanted;         ///< each pixel's colour with its alpha
};

/// One texture's matching: the image and the texture it replaces, the
/// decisions taken once, and the levels made.
struct Match {
  EditedImage image;
  OldTexture old;
  PaletteSource source = PaletteSource::image;
  PaletteSetting setting;
  bool by_index = false;  ///< the image's colour map is the palette: its indices are taken
  AlphaSource alpha = AlphaSource::texture;
  TexLevels* result = nullptr;
  MatchScratch* scratch = nullptr;
  /// By entry, the pixels that keep their colour and use it, at any level.
  std::array<std::size_t, 256> users{};
  /// The palette before it was made anew, when it was.
  TexPalette before{};
  MatchCounts counts;
};
