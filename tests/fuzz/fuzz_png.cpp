// The PNG reader on fuzzed files: libpng decodes, this checks what is done
// with what it returns (the row places, the palette, the limits).
#include <array>
#include <cstdio>

#include "formats/png.h"
#include "formats/tex.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* in = open_fuzz_input(data, size);
  if (in == nullptr) return 0;
  static std::array<unsigned char, kTexMaxPixels * 4> pixels;
  PngImage image;
  if (read_png(in, image, pixels) == PngResult::ok) {
    const std::size_t bytes = std::size_t{image.width} * image.height * (image.indexed ? 1 : 4);
    unsigned sum = 0;
    for (std::size_t k = 0; k < bytes; ++k)
      sum += pixels[k];
    if (sum == 1) std::rewind(in);  // keeps the reading from being optimised away
  }
  std::fclose(in);
  return 0;
}
