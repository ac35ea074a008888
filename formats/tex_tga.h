#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "formats/tex.h"
#include "formats/tga.h"

// How a texture becomes a TGA image and how an image's colour map is held
// against a texture's palette: the rules between the two formats.

/// Whether the image a sub-type is split into holds the palette's indices,
/// with the palette as its colour map (sub-type 1), so that the palette goes
/// into a palette file beside it; sub-type 14 is split into colours.
constexpr bool tex_split_keeps_indices(TexSubtype subtype) {
  return subtype == TexSubtype::indexed;
}

/// The header the splitter writes for a sub-type (1, 14, 17 or 18) and size;
/// skinprep writes its levels with the header of sub-type 1.
TgaHeader tga_header_for_subtype(TexSubtype subtype, std::uint16_t x, std::uint16_t y);

/// Writes the 256-entry colour map: bytes 0, 1, 2 (blue, green, red) of each entry.
void write_tga_colour_map(ByteBuffer& out, const TexPalette& palette);

/// Writes the pixel data for a sub-type from the high level's stored pixels
/// (1, 3 or 4 bytes each), in stored order. Sub-type 14 looks its indices up
/// in the palette.
void write_tga_pixels(ByteBuffer& out, TexSubtype subtype, std::span<const unsigned char> stored,
                      const TexPalette& palette);

/// The colour a texture's stored pixel k (of 1, 3 or 4 bytes) shows, alpha
/// included: the palette's colour of its index, or its own.
Rgba tex_pixel_colour(TexSubtype subtype, std::span<const unsigned char> stored, std::size_t k,
                      const TexPalette& palette);

/// Whether an index used by some pixel selects a colour-map colour whose red,
/// green or blue differs from the palette's colour of that index (alpha is not
/// compared).
bool tga_colours_differ(const ColourMap& map, std::span<const unsigned char> indices,
                        const TexPalette& palette);
