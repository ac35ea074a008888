#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "formats/colour.h"
#include "formats/tex.h"

// libimagequant, as skinprep asks it for a palette: for a picture, with some
// colours held as they are, and the picture remapped to it with dithering.

/// What to ask for.
struct QuantizeRequest {
  std::span<const Rgba> colours;  ///< the picture, rows of width pixels
  std::size_t width = 0;
  std::size_t height = 0;
  std::span<const Rgba> fixed;                ///< colours the palette holds as they are
  std::span<const unsigned char> importance;  ///< how much each pixel counts, 0 to 255; or empty
  int speed = 4;                              ///< 1 (best) to 10 (fastest)
  int max_colours = static_cast<int>(kTexPaletteEntries);
  std::span<unsigned char> remapped;  ///< the indices into the palette; empty for none
  /// The picture remapped, when it is not the one the palette is made from:
  /// rows of remap_width pixels.
  std::span<const Rgba> remap_colours;
  std::size_t remap_width = 0;
};

/// What came of it.
struct Quantized {
  std::vector<Rgba> palette;  ///< libimagequant's order; see-through colours come as 0,0,0,0
};

/// Asks libimagequant; false when it fails (out of memory, say).
bool quantize(const QuantizeRequest& request, Quantized& result);
