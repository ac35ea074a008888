#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include "formats/bytes.h"

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

inline constexpr std::size_t kTexHeaderSize = 14;
inline constexpr std::size_t kTexTailSize = 10;
inline constexpr long kTexPaletteOffset = 14;
inline constexpr std::size_t kTexPaletteSize = 1024;

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

/// One palette entry: blue, green, red, alpha.
using TexPaletteEntry = std::array<unsigned char, 4>;
using TexPalette = std::array<TexPaletteEntry, 256>;

enum class TexDimensionsResult { ok, x_missing, y_missing };

/// Reads X and then Y, each low byte first, one byte at a time.
TexDimensionsResult read_tex_dimensions(std::FILE* stream, std::uint16_t& x, std::uint16_t& y);

/// Reads the sub-type byte, the next byte of the stream; empty at end of file or on error.
std::optional<TexSubtype> read_tex_subtype(std::FILE* stream);

/// The shortest file the splitter accepts for an X × Y texture. It counts one
/// byte per pixel and a palette for every sub-type, from the product X·Y.
std::uint64_t tex_min_length(unsigned x, unsigned y);

/// Where the pixels of the high level begin: after the palette, or right after
/// the header for the true-colour sub-types, which have none.
long tex_pixel_offset(TexSubtype subtype);

/// Bytes per stored pixel of the high level: 1, 3 or 4; 0 for an unknown sub-type.
unsigned tex_bytes_per_pixel(TexSubtype subtype);

/// Reads the 1024 palette bytes in file order, one at a time.
ReadResult read_tex_palette(std::FILE* stream, TexPalette& palette);

/// Writes the 14 header bytes in one write.
bool write_tex_header(std::FILE* stream, const TexHeader& header);

/// Writes bytes 0 to 3 of the 256 entries, one byte at a time.
bool write_tex_palette(std::FILE* stream, const TexPalette& palette);

/// Writes the bytes of one level of detail in order, one byte at a time.
bool write_tex_level(std::FILE* stream, std::span<const unsigned char> level);
