#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/tex.h"
#include "formats/tga.h"

// Two helpers for finding and counting colours.

/// A colour as one number, to compare, sort and look colours up by.
inline std::uint32_t pack_colour(const TgaColour& c) {
  return static_cast<std::uint32_t>(c[0]) | (static_cast<std::uint32_t>(c[1]) << 8) |
         (static_cast<std::uint32_t>(c[2]) << 16) | (static_cast<std::uint32_t>(c[3]) << 24);
}

/// Palette indices by colour: at most a few hundred colours, found in one or
/// two probes instead of a search through the palette for every pixel.
class ColourIndex {
 public:
  ColourIndex() { values_.fill(-1); }

  /// Keeps the first index given for a colour, so callers add the lowest first.
  void add(std::uint32_t key, int index) {
    std::size_t slot = slot_of(key);
    while (values_[slot] >= 0) {
      if (keys_[slot] == key) return;
      slot = (slot + 1) % kSlots;
    }
    keys_[slot] = key;
    values_[slot] = static_cast<std::int16_t>(index);
  }

  /// The index of a colour, or -1.
  [[nodiscard]] int find(std::uint32_t key) const {
    for (std::size_t slot = slot_of(key); values_[slot] >= 0; slot = (slot + 1) % kSlots) {
      if (keys_[slot] == key) return values_[slot];
    }
    return -1;
  }

 private:
  static constexpr std::size_t kSlots = 1024;  // never more than a quarter full
  static std::size_t slot_of(std::uint32_t key) { return (key * 2654435761U) >> 22U; }
  std::array<std::uint32_t, kSlots> keys_{};
  std::array<std::int16_t, kSlots> values_{};
};

/// How many different numbers keys holds (it sorts them to count).
inline std::size_t count_distinct(std::span<std::uint32_t> keys) {
  std::sort(keys.begin(), keys.end());
  return static_cast<std::size_t>(std::unique(keys.begin(), keys.end()) - keys.begin());
}
