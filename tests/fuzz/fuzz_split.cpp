// The whole of split_texture on a fuzzed TEX file.
#include <string>

#include "fuzz_workdir.h"
#include "split/split_texture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  enter_empty_fuzz_workdir();
  const ConsoleSilence quiet;
  write_file("t.tex", Bytes(data, data + size));
  std::string argument = "t.tex";
  const StartDirectory start;
  split_texture(argument.data(), ToolRun{start});
  enter_fuzz_workdir();
  return 0;
}
