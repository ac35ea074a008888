// The splitter's reading and checking of a TEX file, then the writers of its outputs.
#include <cstdio>

#include "formats/pal.h"
#include "formats/tex_tga.h"
#include "formats/tga.h"
#include "fuzz_input.h"
#include "shell/report.h"
#include "split/split_texture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* in = open_fuzz_input(data, size);
  if (in == nullptr) return 0;
  const ConsoleSilence quiet;
  TextureFacts facts;
  const bool read = read_texture_file(in, facts);
  std::fclose(in);
  if (!read) return 0;
  static ByteBuffer sink;
  sink.clear();
  static const TexPalette palette{};
  write_tga_header(sink, tga_header_for_subtype(facts.subtype, facts.x, facts.y));
  write_tga_colour_map(sink, palette);
  write_tga_pixels(sink, facts.subtype, facts.pixels, palette);
  write_pal_entries(sink, palette);
  return 0;
}
