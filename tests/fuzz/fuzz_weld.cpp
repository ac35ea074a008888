// The whole of build_texture on fuzzed inputs: the palette file, the three
// images and the existing TEX file, framed in one input (see frame_parts).
#include "fuzz_workdir.h"
#include "weld/build_texture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  run_on_fuzzed_files(data, size, "t", {"t/t.pal", "t/t_h.tga", "t/t_m.tga", "t/t_l.tga", "t.tex"},
                      build_texture);
  return 0;
}
