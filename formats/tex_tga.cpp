#include "formats/tex_tga.h"

#include <algorithm>
#include <array>

TgaHeader tga_header_for_subtype(TexSubtype subtype, std::uint16_t x, std::uint16_t y) {
  TgaHeader header;
  if (tex_split_keeps_indices(subtype)) {
    header = tga_colour_mapped_header();
  } else {
    header = tga_true_colour_header();
    header.pixel_depth = subtype == TexSubtype::truecolour24 ? 24 : 32;
  }
  header.width = x;
  header.height = y;
  return header;
}

bool write_tga_colour_map(std::FILE* stream, const TexPalette& palette) {
  for (const TexPaletteEntry& entry : palette) {
    // The colour map keeps the palette's own blue, green, red order; alpha has no place in it.
    if (!write_bytes(stream, std::span(entry).first(3))) return false;
  }
  return true;
}

bool write_tga_pixels(std::FILE* stream, TexSubtype subtype, std::span<const unsigned char> stored,
                      const TexPalette& palette) {
  // One loop per sub-type, so that nothing is decided again for each pixel.
  switch (subtype) {
    case TexSubtype::indexed:
      return write_bytes(stream, stored);
    case TexSubtype::indexed_expanded:
      for (const unsigned char index : stored) {
        // The entry's colour as the pixel's blue, green, red and alpha.
        const Rgba c = tex_entry_colour(palette[index], true);
        if (!write_byte(stream, c[2]) || !write_byte(stream, c[1]) || !write_byte(stream, c[0]) ||
            !write_byte(stream, c[3]))
          return false;
      }
      return true;
    case TexSubtype::truecolour24:
      for (std::size_t at = 0; at + 3 <= stored.size(); at += 3) {
        const unsigned char* s = &stored[at];
        if (!write_byte(stream, s[2]) || !write_byte(stream, s[1]) || !write_byte(stream, s[0]))
          return false;
      }
      return true;
    case TexSubtype::truecolour32:
      for (std::size_t at = 0; at + 4 <= stored.size(); at += 4) {
        const unsigned char* s = &stored[at];
        if (!write_byte(stream, s[2]) || !write_byte(stream, s[1]) || !write_byte(stream, s[0]) ||
            !write_byte(stream, s[3]))
          return false;
      }
      return true;
  }
  return true;
}

bool tga_colours_differ(const ColourMap& map, std::span<const unsigned char> indices,
                        const TexPalette& palette) {
  std::array<bool, 256> used{};
  for (const unsigned char index : indices)
    used[index] = true;
  for (std::size_t index = 0; index < 256; ++index) {
    if (!used[index] || !map.present[index]) continue;
    const Rgba shown = tex_entry_colour(palette[index], false);
    if (!std::equal(shown.begin(), shown.begin() + 3, map.colour[index].begin())) return true;
  }
  return false;
}
