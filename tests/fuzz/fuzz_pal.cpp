// The palette file reader.
#include <cstdio>

#include "formats/pal.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* in = open_fuzz_input(data, size);
  if (in == nullptr) return 0;
  PalHeader header;
  TexPalette palette;
  if (read_pal_header(in, header)) read_pal_entries(in, palette);
  std::fclose(in);
  return 0;
}
