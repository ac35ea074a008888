#include "prep/match/matching.h"
#include "prep/prep_work.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "prep/colours.h"

namespace {

/// A block of the high level, size × size pixels from (x0, y0), counted in
/// the TEX file's order: x from the left, y from the bottom row.
struct Block {
  std::size_t x0;
  std::size_t y0;
  std::size_t size;
};

/// Level n (1 medium, 2 low) as it is made: each pixel stands for a block of
/// size × size high-level pixels; old is the texture's own, when it serves.
struct LowerLevel {
  std::size_t n;
  std::size_t size;
  TexSize pixels;
  std::span<unsigned char> made;
  std::span<const unsigned char> old;
};

LowerLevel lower_level(Match& m, std::size_t n) {
  const auto x = static_cast<unsigned>(m.image.width);
  const auto y = static_cast<unsigned>(m.image.height);
  LowerLevel level = {
      n, tex_level_scale(n), tex_level_size(x, y, n), tex_level(*m.result, n, x, y), {}};
  if (m.old.usable) level.old = tex_level(*m.old.levels, n, x, y);
  return level;
}

/// The block level pixel (x, y) stands for.
Block block_of(const LowerLevel& level, std::size_t x, std::size_t y) {
  return {x * level.size, y * level.size, level.size};
}

/// Whether an index means the colour it meant before the palette was made
/// anew (always, when it was not).
bool same_colour(const Match& m, unsigned char index) {
  return !m.counts.reduced || m.before[index] == m.setting.palette[index];
}

/// Whether a block has the texture's indices and no new colour (after a
/// reduction: indices that still mean the same colours); then the texture's
/// lower-level pixel for it still stands.
bool block_unchanged(const Match& m, const Block& block) {
  if (!m.old.usable) return false;
  for (std::size_t y = block.y0; y < block.y0 + block.size; ++y) {
    for (std::size_t x = block.x0; x < block.x0 + block.size; ++x) {
      const std::size_t k = y * m.image.width + x;
      const unsigned char index = m.result->high[k];
      const bool new_colour = m.counts.reduced ? !same_colour(m, index) : m.scratch->fresh[k];
      if (new_colour || index != m.old.levels->high[k]) return false;
    }
  }
  return true;
}

/// Whether no pixel of a block has a colour the edit brought.
bool untouched_by_edit(const Match& m, const Block& block) {
  for (std::size_t y = block.y0; y < block.y0 + block.size; ++y) {
    for (std::size_t x = block.x0; x < block.x0 + block.size; ++x) {
      if (m.scratch->fresh[y * m.image.width + x]) return false;
    }
  }
  return true;
}

/// The light an sRGB value (0 to 1) stands for, 0 to 1.
double light_of(double value) {
  return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

/// The light a stored sRGB value stands for, 0 to 1: averaging the values
/// themselves would turn a black and white checker into grey 128, where the
/// eye (and a blur) sees 188.
float decode_srgb(unsigned char value) {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> light{};
    for (std::size_t v = 0; v < 256; ++v)
      light[v] = static_cast<float>(light_of(static_cast<double>(v) / 255.0));
    return light;
  }();
  return table[value];
}

/// The sRGB value that stands for an amount of light, rounded: the number
/// of values whose lower rounding bound (v - 0.5) the light reaches, found
/// in a table of those bounds rather than by a power for every block.
unsigned char encode_srgb(double light) {
  static const std::array<double, 256> bounds = [] {
    std::array<double, 256> at{};
    for (std::size_t v = 1; v < 256; ++v)
      at[v] = light_of((static_cast<double>(v) - 0.5) / 255.0);
    return at;
  }();
  return static_cast<unsigned char>(std::upper_bound(bounds.begin() + 1, bounds.end(), light) -
                                    bounds.begin() - 1);
}

/// The index for a block that changed: the entry nearest to the colours its
/// pixels ask for (the picture before any reduction or dithering), averaged
/// as light and weighted by alpha, so that transparent pixels do not darken
/// the edge of what shows. A block of one colour keeps its high-level index.
unsigned char make_block_index(const Match& m, NearestEntry& nearest, const Block& block) {
  const std::span<const Rgba> wanted = m.scratch->wanted;
  const std::size_t first = block.y0 * m.image.width + block.x0;
  bool one_colour = true;
  std::array<double, 3> weighted{};
  std::array<double, 3> plain{};
  std::uint64_t alpha = 0;
  for (std::size_t y = block.y0; y < block.y0 + block.size; ++y) {
    for (std::size_t x = block.x0; x < block.x0 + block.size; ++x) {
      const Rgba& c = wanted[y * m.image.width + x];
      one_colour = one_colour && c == wanted[first];
      for (std::size_t ch = 0; ch < 3; ++ch) {
        weighted[ch] += static_cast<double>(decode_srgb(c[ch])) * c[3];
        plain[ch] += decode_srgb(c[ch]);
      }
      alpha += c[3];
    }
  }
  if (one_colour) return m.result->high[first];
  const std::uint64_t count = block.size * block.size;
  Rgba average{};
  for (std::size_t ch = 0; ch < 3; ++ch) {
    average[ch] = encode_srgb(alpha > 0 ? weighted[ch] / static_cast<double>(alpha)
                                        : plain[ch] / static_cast<double>(count));
  }
  average[3] = static_cast<unsigned char>((alpha + count / 2) / count);
  return nearest.find(average);
}

/// The pixel at of a lower level. After a reduction a block the edit did not
/// touch shows what it showed, as near as the new palette allows, even where
/// dithering or a dropped colour changed its high-level pixels.
void make_pixel(Match& m, NearestEntry& nearest, const LowerLevel& level, std::size_t at) {
  const Block block = block_of(level, at % level.pixels.x, at / level.pixels.x);
  const bool untouched = m.counts.reduced && m.old.usable && untouched_by_edit(m, block);
  if ((untouched || block_unchanged(m, block)) && same_colour(m, level.old[at])) {
    level.made[at] = level.old[at];
    ++m.counts.reused[level.n];
  } else if (untouched) {
    level.made[at] = nearest.find(tex_entry_colour(m.before[level.old[at]], m.setting.expanded));
    ++m.counts.made[level.n];
  } else {
    level.made[at] = make_block_index(m, nearest, block);
    ++m.counts.made[level.n];
  }
}

}  // namespace

void count_reused_entries(Match& m) {
  for (std::size_t n = 1; n < kTexLevelCount; ++n) {
    const LowerLevel level = lower_level(m, n);
    for (std::size_t y = 0; y < level.pixels.y; ++y) {
      for (std::size_t x = 0; x < level.pixels.x; ++x) {
        // A lower-level pixel stands for a block of the high level's.
        if (block_unchanged(m, block_of(level, x, y)))
          ++m.users[n][level.old[y * level.pixels.x + x]];
      }
    }
  }
}

void make_lower_levels(Match& m) {
  const Palette colours = colours_of(m.setting.palette, m.setting.expanded);
  NearestEntry nearest(colours);
  for (std::size_t n = 1; n < kTexLevelCount; ++n) {
    const LowerLevel level = lower_level(m, n);
    for (std::size_t at = 0; at < level.made.size(); ++at)
      make_pixel(m, nearest, level, at);
  }
}
