#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "formats/colour.h"

// The PNG image file, read with libpng: every colour type and bit depth a
// paint program saves (palette of 1 to 8 bits with per-entry alpha, grey of
// 1 to 16 bits, grey with alpha, RGB and RGBA of 8 or 16 bits, interlaced or
// not). Sixteen-bit samples are scaled to eight with rounding; gamma, colour
// profiles and text are ignored: the stored values are the colours.

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
};

/// Reads a PNG image of at most kTexMaxDimension pixels a side into pixels
/// (which holds four bytes for each of them), bottom row first, each row left
/// to right, as the TEX file stores them.
PngResult read_png(std::FILE* stream, PngImage& image, std::span<unsigned char> pixels);
