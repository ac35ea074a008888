#pragma once

#include <cstdio>
#include <memory>

#include "formats/stream_buffer.h"

struct InputFileCloser {
  bool owns_buffer = false;
  void operator()(std::FILE* stream) const {
    std::fclose(stream);
    if (owns_buffer) return_input_buffer();
  }
};

/// A file opened for reading, closed when it goes out of scope.
using InputFile = std::unique_ptr<std::FILE, InputFileCloser>;

/// Opens path for binary reading; empty when it cannot be opened.
inline InputFile open_input(const char* path) {
  std::FILE* stream = std::fopen(path, "rb");
  if (stream == nullptr) return InputFile(nullptr, InputFileCloser{});
  return InputFile(stream, InputFileCloser{borrow_input_buffer(stream)});
}
