#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <string>

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
