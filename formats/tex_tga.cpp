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

void write_tga_colour_map(ByteBuffer& out, const TexPalette& palette) {
  // The colour map keeps the palette's own blue, green, red order; alpha has no place in it.
  for (const TexPaletteEntry& entry : palette)
    put_bytes(out, std::span(entry).first(3));
}

void write_tga_pixels(ByteBuffer& out, TexSubtype subtype, std::span<const unsigned char> stored,
                      const TexPalette& palette) {
  // One loop per sub-type, so that nothing is decided again for each pixel;
  // each writes the pixels' blue, green, red (and alpha) bytes.
  std::size_t at = out.size();
  switch (subtype) {
    case TexSubtype::indexed:
      put_bytes(out, stored);
      return;
    case TexSubtype::indexed_expanded:
      out.resize(at + stored.size() * 4);
      for (const unsigned char index : stored) {
        const Rgba c = tex_entry_colour(palette[index], true);
        for (const std::size_t ch : {2, 1, 0, 3})
          out[at++] = c[ch];
      }
      return;
    case TexSubtype::truecolour24:
      out.resize(at + stored.size());
      for (std::size_t k = 0; k + 3 <= stored.size(); k += 3) {
        for (const std::size_t ch : {2, 1, 0})
          out[at++] = stored[k + ch];
      }
      return;
    case TexSubtype::truecolour32:
      out.resize(at + stored.size());
      for (std::size_t k = 0; k + 4 <= stored.size(); k += 4) {
        for (const std::size_t ch : {2, 1, 0, 3})
          out[at++] = stored[k + ch];
      }
      return;
  }
}

Rgba tex_pixel_colour(TexSubtype subtype, std::span<const unsigned char> stored, std::size_t k,
                      const TexPalette& palette) {
  switch (subtype) {
    case TexSubtype::indexed:
      return tex_entry_colour(palette[stored[k]], false);
    case TexSubtype::indexed_expanded:
      return tex_entry_colour(palette[stored[k]], true);
    case TexSubtype::truecolour24:  // as the split image shows it (see write_tga_pixels)
      return {stored[3 * k], stored[3 * k + 1], stored[3 * k + 2], 255};
    case TexSubtype::truecolour32:
      return {stored[4 * k], stored[4 * k + 1], stored[4 * k + 2], stored[4 * k + 3]};
  }
  return {};
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
