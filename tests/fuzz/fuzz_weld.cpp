// The whole of build_texture on fuzzed inputs: the palette file, the three
// images and the existing TEX file, framed in one input (see frame_parts).
#include <cstdio>
#include <string>

#include "fuzz_workdir.h"
#include "support/samples.h"
#include "weld/build_texture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  enter_fuzz_workdir();
  const char* names[] = {"t/t.pal", "t/t_h.tga", "t/t_m.tga", "t/t_l.tga", "t.tex"};
  const std::vector<std::optional<Bytes>> parts = unframe_parts(Bytes(data, data + size), 5);
  std::filesystem::create_directory("t");
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i]) {
      write_file(names[i], *parts[i]);
    } else {
      std::remove(names[i]);
    }
  }
  std::string argument = "t";
  build_texture(argument.data());
  enter_fuzz_workdir();
  return 0;
}
