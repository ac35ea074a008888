#pragma once

#include <cstdio>
#include <memory>

struct InputFileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};

/// A file opened for reading, closed when it goes out of scope.
using InputFile = std::unique_ptr<std::FILE, InputFileCloser>;

/// Opens path for binary reading; empty when it cannot be opened.
inline InputFile open_input(const char* path) {
  return InputFile(std::fopen(path, "rb"));
}
