#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include "support/samples.h"

/// An anonymous temporary file holding bytes, positioned at its start.
inline std::FILE* stream_with(const Bytes& bytes) {
  std::FILE* stream = std::tmpfile();
  if (stream == nullptr) throw std::runtime_error("tmpfile failed");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::rewind(stream);
  return stream;
}

/// Everything written to stream so far.
inline Bytes contents_of(std::FILE* stream) {
  std::fflush(stream);
  const long end = std::ftell(stream);
  std::rewind(stream);
  Bytes bytes(static_cast<std::size_t>(end));
  if (std::fread(bytes.data(), 1, bytes.size(), stream) != bytes.size())
    throw std::runtime_error("short read");
  return bytes;
}

/// The offset of the first byte where two byte strings differ, or -1.
inline long first_difference(const Bytes& a, const Bytes& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] != b[i]) return static_cast<long>(i);
  }
  return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}
