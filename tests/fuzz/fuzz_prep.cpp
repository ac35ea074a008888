// The whole of prepare_texture on fuzzed inputs: the edited image, the
// palette file, the texture and an edit saved as PNG, framed in one input
// (see frame_parts).
#include "fuzz_workdir.h"
#include "prep/prepare_texture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  run_on_fuzzed_files(data, size, "tga", {"tga/t.tga", "tga/t.pal", "t.tex", "tga/t.png"},
                      prepare_texture);
  return 0;
}
