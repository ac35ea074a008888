// The TGA reader as skinweld uses it (header, colour map, indices in any
// layout, and the colour-map check) and as skinprep does (colours of any mode).
#include <array>
#include <cstdio>

#include "formats/tex_tga.h"
#include "formats/tga.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* in = open_fuzz_input(data, size);
  if (in == nullptr) return 0;
  static std::array<unsigned char, 512 * 512> level;
  static const TexPalette palette{};
  TgaHeader header;
  ColourMap map;
  // skinweld reads nothing larger than 512 × 512.
  if (read_tga_header(in, header) && header.width <= 512 && header.height <= 512 &&
      read_tga_colour_map(in, header, map) == ReadResult::ok) {
    const std::span<unsigned char> pixels =
        std::span(level).first(std::size_t{header.width} * header.height);
    if (read_tga_indices(in, header, pixels) == ReadResult::ok) {
      tga_colours_differ(map, pixels, palette);
    }
  }
  std::rewind(in);
  static std::array<unsigned char, 512 * 512 * 4> stored;
  const unsigned pixel_bytes = read_tga_header(in, header) ? tga_colour_pixel_bytes(header) : 0;
  if (pixel_bytes > 0 && header.width <= 512 && header.height <= 512 &&
      read_tga_colour_map(in, header, map) == ReadResult::ok &&
      read_tga_pixel_bytes(in, header, stored, pixel_bytes) == ReadResult::ok) {
    unsigned sum = 0;
    for (std::size_t k = 0; k < std::size_t{header.width} * header.height; ++k)
      sum += tga_pixel_colour(&stored[k * pixel_bytes], header, map)[3];
    if (sum == 1) std::rewind(in);  // keeps the decoding from being optimised away
  }
  std::fclose(in);
  return 0;
}
