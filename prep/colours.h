#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "formats/colour.h"
#include "formats/tex.h"

// Helpers for finding and counting colours.

/// A colour as one number, to compare, sort and look colours up by.
inline std::uint32_t pack_colour(const Rgba& c) {
  return static_cast<std::uint32_t>(c[0]) | (static_cast<std::uint32_t>(c[1]) << 8) |
         (static_cast<std::uint32_t>(c[2]) << 16) | (static_cast<std::uint32_t>(c[3]) << 24);
}

/// The colour a key stands for; the inverse of pack_colour.
inline Rgba unpack_colour(std::uint32_t key) {
  return {static_cast<unsigned char>(key), static_cast<unsigned char>(key >> 8),
          static_cast<unsigned char>(key >> 16), static_cast<unsigned char>(key >> 24)};
}

/// The key of a colour by red, green and blue alone.
inline std::uint32_t pack_rgb(const Rgba& c) {
  return pack_colour(c) & 0x00ffffffU;
}

/// The slot of a key in a table of 2^bits slots: the top bits of the key
/// times a large odd constant (Knuth's multiplicative hash), which spreads
/// colours that differ in one channel.
inline std::size_t hash_slot(std::uint32_t key, unsigned bits) {
  return (key * 2654435761U) >> (32U - bits);
}

/// The same, for a table whose size is known when compiled.
template <unsigned bits>
std::size_t hash_slot(std::uint32_t key) {
  return hash_slot(key, bits);
}

/// The colours of a palette's 256 entries, as they show.
using Palette = std::array<Rgba, kTexPaletteEntries>;

/// The colours a palette's entries show (see tex_entry_colour).
inline Palette colours_of(const TexPalette& palette, bool expanded) {
  Palette colours;
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n)
    colours[n] = tex_entry_colour(palette[n], expanded);
  return colours;
}

/// How far apart two colours are: the squared differences of red, green,
/// blue and alpha as stored. (Compared premultiplied, as they would show
/// over black or white, the lower levels' averages of a translucent window
/// matched worse; see bench/README.md.) Counting stops once the sum reaches
/// limit: the entry has lost.
inline std::int64_t colour_distance(const Rgba& a, const Rgba& b, std::int64_t limit) {
  std::int64_t sum = 0;
  for (std::size_t ch = 0; ch < 4 && sum < limit; ++ch) {
    const std::int64_t difference = std::int64_t{a[ch]} - b[ch];
    sum += difference * difference;
  }
  return sum;
}

/// The entry of palette nearest to c, among the candidates marked (all,
/// where there are none), the lowest of equals; distance is how far it is.
inline unsigned char find_nearest(const Rgba& c, const Palette& palette, const EntrySet* candidates,
                                  std::int64_t& distance) {
  unsigned char best = 0;
  distance = std::numeric_limits<std::int64_t>::max();
  for (std::size_t n = 0; n < kTexPaletteEntries && distance > 0; ++n) {
    if (candidates != nullptr && !(*candidates)[n]) continue;
    const std::int64_t d = colour_distance(c, palette[n], distance);
    if (d < distance) {
      distance = d;
      best = static_cast<unsigned char>(n);
    }
  }
  return best;
}

/// The palette entry nearest to a colour (the lowest of equally near ones),
/// as find_nearest finds it, remembered: colours repeat, and a search
/// through 256 entries for every pixel of a large image adds up. The search
/// looks at the entries in order of how far the sum of their channels is
/// from the colour's, and stops where that alone is too far: two colours
/// whose sums differ by s are at least s * s / 4 apart. With candidates,
/// only the entries marked there are looked at.
class NearestEntry {
 public:
  explicit NearestEntry(const Palette& palette, const EntrySet* candidates = nullptr)
      : palette_(palette) {
    for (std::size_t n = 0; n < kTexPaletteEntries; ++n) {
      if (candidates == nullptr || (*candidates)[n])
        by_sum_[count_++] = {channel_sum(palette[n]), static_cast<unsigned char>(n)};
    }
    std::sort(by_sum_.begin(), by_sum_.begin() + static_cast<std::ptrdiff_t>(count_), before);
  }

  unsigned char find(const Rgba& c) {
    const std::uint32_t key = pack_colour(c);
    const std::size_t slot = hash_slot<kSlotBits>(key);
    if (valid_[slot] && keys_[slot] == key) return values_[slot];
    std::int64_t distance = kFar;
    const unsigned char best = search(c, distance);
    valid_[slot] = true;
    keys_[slot] = key;
    values_[slot] = best;
    return best;
  }

  /// How far the nearest entry is from c (squared, as colour_distance
  /// counts), or limit where none is nearer.
  [[nodiscard]] std::int64_t distance_within(const Rgba& c, std::int64_t limit) const {
    std::int64_t distance = limit;
    search(c, distance);
    return distance;
  }

 private:
  static constexpr std::int64_t kFar = std::numeric_limits<std::int64_t>::max();

  struct Sum {
    int sum;
    unsigned char entry;
  };

  /// By sum, then by entry.
  static bool before(const Sum& a, const Sum& b) {
    return a.sum != b.sum ? a.sum < b.sum : a.entry < b.entry;
  }

  static int channel_sum(const Rgba& c) { return c[0] + c[1] + c[2] + c[3]; }

  /// Outward from the colour's sum, below and above in turn, the entries
  /// nearer than distance (kFar for any); distance becomes the nearest's.
  unsigned char search(const Rgba& c, std::int64_t& distance) const {
    const int sum = channel_sum(c);
    std::size_t up = static_cast<std::size_t>(
        std::lower_bound(by_sum_.begin(), by_sum_.begin() + static_cast<std::ptrdiff_t>(count_),
                         Sum{sum, 0}, before) -
        by_sum_.begin());
    std::size_t down = up;  // the next below is down - 1
    unsigned char best = 0;
    const auto reach = [&](const Sum& s) {
      const std::int64_t apart = s.sum - sum;
      return distance == kFar || apart * apart <= 4 * distance;
    };
    const auto look = [&](const Sum& s) {
      const std::int64_t d =
          colour_distance(c, palette_[s.entry], distance == kFar ? kFar : distance + 1);
      if (d < distance || (d == distance && s.entry < best)) {
        distance = d;
        best = s.entry;
      }
    };
    bool below = down > 0 && reach(by_sum_[down - 1]);
    bool above = up < count_ && reach(by_sum_[up]);
    while (below || above) {
      if (above) look(by_sum_[up++]);
      if (below) look(by_sum_[--down]);
      below = down > 0 && reach(by_sum_[down - 1]);
      above = up < count_ && reach(by_sum_[up]);
    }
    return best;
  }

  static constexpr unsigned kSlotBits = 12;
  static constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
  const Palette& palette_;
  std::array<Sum, kTexPaletteEntries> by_sum_{};
  std::size_t count_ = 0;
  std::array<bool, kSlots> valid_{};
  std::array<std::uint32_t, kSlots> keys_{};
  std::array<unsigned char, kSlots> values_{};
};

/// The marked entries of a palette that show exactly alpha.
inline EntrySet entries_of_alpha(const Palette& palette, const EntrySet& marked,
                                 unsigned char alpha) {
  EntrySet of_alpha{};
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n)
    of_alpha[n] = marked[n] && palette[n][3] == alpha;
  return of_alpha;
}

/// The nearest entry to a colour among the marked ones of a palette that
/// show a given alpha (all the marked ones where none does): where a pixel
/// the user did not change must move, it keeps its alpha. A search for each
/// alpha is made when it is first asked for.
class NearestOfAlpha {
 public:
  NearestOfAlpha(const Palette& palette, const EntrySet& marked)
      : palette_(palette), marked_(marked) {}

  unsigned char find(const Rgba& c, unsigned char alpha) {
    std::unique_ptr<NearestEntry>& search = searches_[alpha];
    if (!search) {
      EntrySet of_alpha = entries_of_alpha(palette_, marked_, alpha);
      if (std::find(of_alpha.begin(), of_alpha.end(), true) == of_alpha.end()) of_alpha = marked_;
      search = std::make_unique<NearestEntry>(palette_, &of_alpha);
    }
    return search->find(c);
  }

 private:
  const Palette& palette_;
  const EntrySet& marked_;
  std::array<std::unique_ptr<NearestEntry>, 256> searches_;
};

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
  static constexpr unsigned kSlotBits = 10;
  static constexpr std::size_t kSlots = std::size_t{1}
                                        << kSlotBits;  // never more than a quarter full
  static std::size_t slot_of(std::uint32_t key) { return hash_slot<kSlotBits>(key); }
  std::array<std::uint32_t, kSlots> keys_{};
  std::array<std::int16_t, kSlots> values_{};
};

/// How many different numbers keys holds: each is looked up in a table at
/// most half full, which is cheaper than sorting every pixel's colour.
inline std::size_t count_distinct(std::span<const std::uint32_t> keys) {
  unsigned bits = 4;
  while ((std::size_t{1} << bits) < 2 * keys.size())
    ++bits;
  // 0 marks an empty slot: the key 0 is counted apart.
  std::vector<std::uint32_t> table(std::size_t{1} << bits, 0);
  const std::size_t mask = table.size() - 1;
  bool zero = false;
  std::size_t count = 0;
  for (const std::uint32_t key : keys) {
    if (key == 0) {
      zero = true;
      continue;
    }
    std::size_t slot = hash_slot(key, bits);
    while (table[slot] != 0 && table[slot] != key)
      slot = (slot + 1) & mask;
    if (table[slot] == 0) {
      table[slot] = key;
      ++count;
    }
  }
  return count + (zero ? 1 : 0);
}
