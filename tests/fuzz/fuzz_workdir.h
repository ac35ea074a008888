#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "shell/driver.h"
#include "shell/report.h"
#include "support/samples.h"

/// A scratch directory for one fuzz run, made at the first call and entered
/// again before every input, since the procedures change directory.
inline const std::string& enter_fuzz_workdir() {
  static const std::string path = [] {
    char pattern[] = "/tmp/skinfuzz.XXXXXX";
    if (mkdtemp(pattern) == nullptr) abort();
    return std::string(pattern);
  }();
  if (chdir(path.c_str()) != 0) abort();
  return path;
}

/// Enters the scratch directory emptied of what earlier inputs left (the
/// kept ~N files would pile up and slow every later run down).
inline void enter_empty_fuzz_workdir() {
  enter_fuzz_workdir();
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(".", ignored))
    std::filesystem::remove_all(entry.path(), ignored);
}

/// Runs a tool's whole per-texture procedure on fuzzed files: the input's
/// parts (see frame_parts) are written under names, in the scratch directory
/// with directory made in it, and a file whose part is absent is removed.
template <typename Procedure>
void run_on_fuzzed_files(const std::uint8_t* data, std::size_t size, const char* directory,
                         std::initializer_list<const char*> names, Procedure procedure) {
  enter_empty_fuzz_workdir();
  const ConsoleSilence quiet;
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
  procedure(argument.data(), ToolRun{start});
  enter_fuzz_workdir();
}
