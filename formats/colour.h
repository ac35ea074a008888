#pragma once

#include <array>

/// A colour as red, green, blue and alpha, one byte each.
using Rgba = std::array<unsigned char, 4>;

/// The colours of an image's colour map (a TGA colour map, a PNG palette) by
/// pixel value, 0 to 255; present is false where the map has no entry.
struct ColourMap {
  std::array<Rgba, 256> colour{};
  std::array<bool, 256> present{};
};
