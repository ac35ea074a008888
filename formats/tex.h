#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include "formats/bytes.h"
#include "formats/colour.h"

// The TEX texture file: a 14-byte header, a 256-entry palette for the paletted
// sub-types, then the pixels of the high, medium and low level of detail.
//
//   offset 0  X size (2 bytes)      offset 4  sub-type (1 byte)
//   offset 2  Y size (2 bytes)      offset 5  nine more bytes nobody interprets

/// The sub-type byte at offset 4: how the palette and the pixels are stored.
/// Files may hold any other value; these are the ones the splitter handles.
enum class TexSubtype : unsigned char {
  indexed = 1,            ///< palette, one index byte per pixel
  indexed_expanded = 14,  ///< palette, one index byte per pixel, expanded to true colour on output
  truecolour24 = 17,      ///< no palette, three bytes per pixel
  truecolour32 = 18,      ///< no palette, four bytes per pixel
};

/// Whether a sub-type keeps a palette and one index byte a pixel (1 and 14).
constexpr bool tex_is_paletted(TexSubtype subtype) {
  return subtype == TexSubtype::indexed || subtype == TexSubtype::indexed_expanded;
}

/// Whether a sub-type keeps its pixels' colours and no palette (17 and 18).
constexpr bool tex_is_true_colour(TexSubtype subtype) {
  return subtype == TexSubtype::truecolour24 || subtype == TexSubtype::truecolour32;
}

/// Whether a sub-type's palette entries show bytes 0, 1, 2, 3 as red, green,
/// blue and alpha (sub-type 14) rather than blue, green, red, alpha.
constexpr bool tex_is_expanded(TexSubtype subtype) {
  return subtype == TexSubtype::indexed_expanded;
}

inline constexpr std::size_t kTexHeaderSize = 14;
/// The header's tail, from the sub-type byte on, which the tools carry over.
inline constexpr long kTexTailOffset = 4;
inline constexpr std::size_t kTexTailSize = 10;
inline constexpr long kTexPaletteOffset = 14;
inline constexpr std::size_t kTexPaletteSize = 1024;
/// Where the pixels of a paletted texture begin: right after its palette.
inline constexpr long kTexPixelOffset = kTexPaletteOffset + static_cast<long>(kTexPaletteSize);

/// The largest X and Y the splitter reads.
inline constexpr std::size_t kTexMaxSplitDimension = 256;
/// The largest X and Y the tools write (and skinprep and skinweld read).
inline constexpr std::size_t kTexMaxDimension = 512;
inline constexpr std::size_t kTexMaxPixels = kTexMaxDimension * kTexMaxDimension;

/// Header bytes 4 to 13; byte 0 of the tail is the sub-type.
using TexTail = std::array<unsigned char, kTexTailSize>;

/// The tail used when there is no TEX file to take it from: sub-type 1.
inline constexpr TexTail kTexDefaultTail = {0x01, 0x00, 0x03, 0x00, 0x01,
                                            0x00, 0x00, 0x00, 0x00, 0x00};

struct TexHeader {
  std::uint16_t x_size = 0;  ///< becomes the width of the TGA image
  std::uint16_t y_size = 0;  ///< becomes the height of the TGA image
  TexTail tail = kTexDefaultTail;
};

/// How many entries a palette has: a pixel's index is one byte.
inline constexpr std::size_t kTexPaletteEntries = 256;

/// One palette entry: blue, green, red, alpha (but see tex_entry_colour).
using TexPaletteEntry = std::array<unsigned char, 4>;
using TexPalette = std::array<TexPaletteEntry, kTexPaletteEntries>;

/// A set of a palette's entries, one flag each.
using EntrySet = std::array<bool, kTexPaletteEntries>;

/// The colour a palette entry shows. Sub-type 1 (and its palette file and
/// colour map) keeps blue, green, red, alpha; the split image of sub-type 14
/// ("expanded") shows entry bytes 0, 1, 2, 3 as red, green, blue, alpha.
inline Rgba tex_entry_colour(const TexPaletteEntry& e, bool expanded) {
  return expanded ? Rgba{e[0], e[1], e[2], e[3]} : Rgba{e[2], e[1], e[0], e[3]};
}

/// The palette entry that shows a colour; the inverse of tex_entry_colour.
inline TexPaletteEntry tex_colour_entry(const Rgba& c, bool expanded) {
  return expanded ? TexPaletteEntry{c[0], c[1], c[2], c[3]}
                  : TexPaletteEntry{c[2], c[1], c[0], c[3]};
}

/// The levels of detail: high (X × Y), medium and low.
inline constexpr std::size_t kTexLevelCount = 3;

/// How many high-level pixels a pixel of level n (0 high, 1 medium, 2 low)
/// stands for along each side: 1, 2 and 4.
constexpr unsigned tex_level_scale(std::size_t level) {
  return 1U << level;
}

/// The width and height of a picture or level.
struct TexSize {
  unsigned x = 0;
  unsigned y = 0;
};

/// The size of level n of an X × Y texture: X div 1, 2 or 4 by Y div 1, 2 or 4.
constexpr TexSize tex_level_size(unsigned x, unsigned y, std::size_t level) {
  return {x / tex_level_scale(level), y / tex_level_scale(level)};
}

/// The three levels of a texture, one palette index a pixel, each in the
/// file's pixel order, with room for the largest texture the tools write.
struct TexLevels {
  std::array<unsigned char, kTexMaxPixels> high;
  std::array<unsigned char, kTexMaxPixels / 4> medium;
  std::array<unsigned char, kTexMaxPixels / 16> low;
};

/// The pixels of level n of an X × Y texture.
std::span<unsigned char> tex_level(TexLevels& levels, std::size_t n, unsigned x, unsigned y);
std::span<const unsigned char> tex_level(const TexLevels& levels, std::size_t n, unsigned x,
                                         unsigned y);

enum class TexDimensionsResult { ok, x_missing, y_missing };

/// Reads X and then Y, each low byte first, one byte at a time.
TexDimensionsResult read_tex_dimensions(std::FILE* stream, std::uint16_t& x, std::uint16_t& y);

/// Reads the sub-type byte, the next byte of the stream; empty at end of file or on error.
std::optional<TexSubtype> read_tex_subtype(std::FILE* stream);

/// Whether the first bytes of a file read as a TEX header: the file has no
/// signature, so a whole header whose X and Y are sizes the tools write.
bool tex_head_is_valid(std::span<const unsigned char> head);

/// The length of a paletted file with all three levels, as skinweld writes it:
/// 1038 + X·Y + (X div 2)·(Y div 2) + (X div 4)·(Y div 4). It is also the
/// shortest file skinsplit accepts, of any sub-type, so that every texture
/// skinweld writes is read back.
std::uint64_t tex_written_length(unsigned x, unsigned y);

/// Bytes per stored pixel of the high level: 1, 3 or 4; 0 for an unknown sub-type.
unsigned tex_bytes_per_pixel(TexSubtype subtype);

/// Reads the 1024 palette bytes in file order, one at a time.
ReadResult read_tex_palette(std::FILE* stream, TexPalette& palette);

/// Reads the palette and the three levels of a paletted texture of size from
/// their places; the caller has checked that X and Y fit in TexLevels.
ReadResult read_tex_levels(std::FILE* stream, TexSize size, TexPalette& palette, TexLevels& levels);

/// Writes the 14 header bytes.
void write_tex_header(ByteBuffer& out, const TexHeader& header);

/// Writes bytes 0 to 3 of the 256 entries.
void write_tex_palette(ByteBuffer& out, const TexPalette& palette);

/// Writes the bytes of one level of detail in order.
void write_tex_level(ByteBuffer& out, std::span<const unsigned char> level);
