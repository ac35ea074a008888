// The whole of prepare_texture on fuzzed inputs: the edited image, the
// palette file and the texture, framed in one input (see frame_parts).
#include <cstdio>
#include <string>

#include "fuzz_workdir.h"
#include "prep/prepare_texture.h"
#include "support/samples.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  enter_fuzz_workdir();
  const char* names[] = {"tga/t.tga", "tga/t.pal", "t.tex"};
  const std::vector<std::optional<Bytes>> parts = unframe_parts(Bytes(data, data + size), 3);
  std::filesystem::create_directory("tga");
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i]) {
      write_file(names[i], *parts[i]);
    } else {
      std::remove(names[i]);
    }
  }
  std::string argument = "t.tex";
  prepare_texture(argument.data());
  enter_fuzz_workdir();
  return 0;
}
