// The whole of prepare_texture on fuzzed inputs: the edited image, the
// palette file and the texture, framed in one input (see frame_parts).
#include "fuzz_workdir.h"
#include "prep/prepare_texture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  run_on_fuzzed_files(data, size, "tga", {"tga/t.tga", "tga/t.pal", "t.tex"}, prepare_texture);
  return 0;
}
