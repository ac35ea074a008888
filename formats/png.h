#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "formats/bytes.h"
#include "formats/colour.h"

// The PNG image file, read with libpng. Read: every colour type
// and bit depth a paint program saves (palette of 1 to 8 bits with per-entry
// alpha, grey of 1 to 16 bits, grey with alpha, RGB and RGBA of 8 or 16
// bits, interlaced or not). Sixteen-bit samples are scaled to eight with
// rounding; gamma and colour profiles are ignored: the stored values are the
// colours. Written: 8-bit RGB, RGBA or palette, with a text chunk if asked
// for, its pixels deflated by libdeflate (about twice as fast as zlib, which
// libpng's writer is bound to).

/// What reading a PNG image ended with.
enum class PngResult {
  ok,
  too_large,  ///< wider or higher than the caller allows; no pixel was read
  damaged,    ///< not a PNG, cut short, a CRC or zlib error: message says which
};

/// A PNG image as read. A palette image keeps its indices, one byte each,
/// with PLTE (and tRNS alpha) as its colour map; every other image is read
/// as red, green, blue and alpha, four bytes a pixel.
struct PngImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool indexed = false;
  bool alpha = false;      ///< an alpha channel or transparency of its own (tRNS)
  ColourMap map;           ///< a palette image's colours by index
  bool too_large = false;  ///< wider or higher than allowed
  char message[128] = {};  ///< what is wrong with a damaged file, in libpng's words
  std::string text;        ///< the text of the chunk of the keyword asked for, if any
};

/// Reads a PNG image of at most kTexMaxDimension pixels a side into pixels
/// (which holds four bytes for each of them), bottom row first, each row left
/// to right, as the TEX file stores them.
/// With text_keyword, the first text chunk of that keyword before the
/// pixels is kept in image.text.
PngResult read_png(std::FILE* stream, PngImage& image, std::span<unsigned char> pixels,
                   const char* text_keyword = nullptr);

/// A picture to write as a PNG image.
struct PngPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool alpha = false;               ///< RGBA; else RGB, the alpha left out
  std::span<const Rgba> bottom_up;  ///< the colours, bottom row first, as the TEX file keeps them
  /// Instead of the colours, when there is a palette: the picture as its
  /// entries, bottom row first (a quarter of the bytes to compress).
  std::span<const unsigned char> indices_bottom_up;
  std::span<const Rgba> palette;       ///< at most 256 entries; alpha kept where alpha is true
  const char* text_keyword = nullptr;  ///< a text chunk of this keyword, if not null
  std::string text;
  /// The text ends in a line "rest XXXXXXXX": the CRC-32 of the bytes that
  /// follow its chunk (the pixels), so that one checksum tells the whole
  /// file is as written without decoding it (see find_png_text).
  bool text_checks_rest = false;
  /// The deflate level, 0 to 12 (libdeflate's; 1 to 9 as zlib's): the
  /// pictures are small and wanted fast. Pixels
  /// that a sample shows do not compress (random ones) are stored as they are.
  int compression = 1;
};

/// The picture as at most 256 entries and an index a pixel (for a palette
/// PNG, a quarter of the bytes to compress); false when it has more colours.
bool as_palette_picture(std::span<const Rgba> colours, std::vector<unsigned char>& indices,
                        std::vector<Rgba>& entries);

/// Writes picture as a PNG image at the end of out. False only when libpng
/// fails (out of memory).
bool write_png(ByteBuffer& out, const PngPicture& picture);

/// The text of the first text chunk of keyword among the chunks before a
/// PNG file's pixels, and the bytes that follow that chunk. False when the
/// bytes are no PNG file, hold no such chunk, or its checksum is wrong.
bool find_png_text(std::span<const unsigned char> file, const char* keyword, std::string& text,
                   std::span<const unsigned char>& rest);

/// The CRC-32 of bytes, as PNG and zlib reckon it: the tools' check whether
/// a file still holds what they wrote.
std::uint32_t crc32_of(std::span<const unsigned char> bytes);

/// The CRC-32 of the bytes crc was reckoned of, followed by bytes.
std::uint32_t crc32_continued(std::uint32_t crc, std::span<const unsigned char> bytes);

/// The CRC-32 of two pieces, one after the other, from the CRC-32 of each
/// and the second's length.
std::uint32_t crc32_joined(std::uint32_t first, std::uint32_t second, std::size_t second_length);

/// Whether the first bytes of a file are the PNG signature.
bool png_head_is_valid(std::span<const unsigned char> head);
