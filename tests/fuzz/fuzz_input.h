#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

/// The fuzz input as a read-only stream, or null for empty input.
inline std::FILE* open_fuzz_input(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return nullptr;
  return fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}
