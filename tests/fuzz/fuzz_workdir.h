#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "files/start_directory.h"
#include "support/samples.h"

/// A scratch directory for one fuzz run, made at the first call and entered
/// again before every input, since the procedures change directory.
inline const std::string& enter_fuzz_workdir() {
  static const std::string path = [] {
    char pattern[] = "/tmp/skinfuzz.XXXXXX";
    return std::string(mkdtemp(pattern) ? pattern : "/tmp");
  }();
  if (chdir(path.c_str()) != 0) abort();
  return path;
}

/// Runs a tool's whole per-texture procedure on fuzzed files: the input's
/// parts (see frame_parts) are written under names, in the scratch directory
/// with directory made in it, and a file whose part is absent is removed.
template <typename Procedure>
void run_on_fuzzed_files(const std::uint8_t* data, std::size_t size, const char* directory,
                         std::initializer_list<const char*> names, Procedure procedure) {
  enter_fuzz_workdir();
  const std::vector<std::optional<Bytes>> parts =
      unframe_parts(Bytes(data, data + size), names.size());
  std::filesystem::create_directory(directory);
  const char* const* name = names.begin();
  for (std::size_t i = 0; i < parts.size(); ++i, ++name) {
    if (parts[i]) {
      write_file(*name, *parts[i]);
    } else {
      std::remove(*name);
    }
  }
  std::string argument = "t.tex";
  const StartDirectory start;
  procedure(argument.data(), start);
  enter_fuzz_workdir();
}
