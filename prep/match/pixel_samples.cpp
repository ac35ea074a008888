#include "prep/match/colour_search.h"
#include "prep/prep_work.h"

#include <algorithm>

#include "prep/colours.h"
#include "prep/match/tuning.h"

namespace {

/// Which pixels an edit's palette is made from (see edit_pixels).
struct EditNeeds {
  const Match& m;
  const EntrySet& fixed;
  bool in_blocks;  ///< only the sampled corner of each block of two by two

  [[nodiscard]] bool at(std::size_t x, std::size_t y) const {
    const std::size_t k = y * m.image.width + x;
    const bool sampled =
        !in_blocks || (x == block_x(x / 2, y / 2, false) && y == block_y(x / 2, y / 2, false));
    return sampled && (m.scratch->fresh[k] || !fixed[m.result->high[k]]);
  }

  [[nodiscard]] std::size_t count() const {
    std::size_t count = 0;
    for (std::size_t y = 0; y < m.image.height; ++y) {
      for (std::size_t x = 0; x < m.image.width; ++x)
        count += at(x, y) ? 1 : 0;
    }
    return count;
  }
};

/// How much an edited pixel counts for libimagequant, by how near the
/// nearest fixed colour comes (see kServedDistance).
unsigned char edited_importance(const Rgba& colour, const NearestEntry& fixed_colours) {
  const std::int64_t distance = fixed_colours.distance_within(colour, kServedDistance);
  return static_cast<unsigned char>(
      std::max<std::int64_t>(kServedImportance, kEditedImportance * distance / kServedDistance));
}

/// Takes every so many of the pixels needs marks into the sample, each with
/// its importance; returns how many.
std::size_t take_sample(Match& m, const EditNeeds& needs, std::size_t count,
                        const NearestEntry& nearest_fixed) {
  const std::span<const Rgba> wanted = wanted_colours(m);
  // Every so many of them, by a hash of their place: every other one along
  // a row would miss a colour of alternate columns.
  const std::size_t step = std::max<std::size_t>(1, (count + kEditSample - 1) / kEditSample);
  std::size_t taken = 0;
  for (std::size_t y = 0; y < m.image.height; ++y) {
    for (std::size_t x = 0; x < m.image.width && taken < m.scratch->sample.size(); ++x) {
      const std::size_t k = y * m.image.width + x;
      if (!needs.at(x, y) || hash_slot<16>(static_cast<std::uint32_t>(k)) % step != 0) continue;
      m.scratch->sample[taken] = wanted[k];
      m.scratch->sample_importance[taken++] = m.scratch->untouched[k]
                                                  ? kGivenUpImportance
                                                  : edited_importance(wanted[k], nearest_fixed);
    }
  }
  return taken;
}

}  // namespace

std::size_t block_x(std::size_t i, std::size_t j, bool weighed) {
  return 2 * i + ((j & 1U) ^ (weighed ? 1U : 0U));
}

std::size_t block_y(std::size_t i, std::size_t j, bool weighed) {
  return 2 * j + ((i & 1U) ^ (weighed ? 1U : 0U));
}

QuantizeRequest whole_picture(const Match& m) {
  QuantizeRequest request;
  request.colours = wanted_colours(m);
  request.width = m.image.width;
  request.height = m.image.height;
  return request;
}

QuantizeRequest sampled_picture(Match& m) {
  const std::size_t width = (m.image.width + 1) / 2;
  const std::size_t height = (m.image.height + 1) / 2;
  for (std::size_t j = 0; j < height; ++j) {
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t x = std::min(block_x(i, j, false), m.image.width - 1);
      const std::size_t y = std::min(block_y(i, j, false), m.image.height - 1);
      m.scratch->sample[j * width + i] = m.scratch->wanted[y * m.image.width + x];
    }
  }
  QuantizeRequest request;
  request.colours = std::span(m.scratch->sample).first(width * height);
  request.width = width;
  request.height = height;
  return request;
}

QuantizeRequest edit_pixels(const ColourSearch& s, const EntrySet& fixed,
                            std::span<const Rgba> fixed_colours, Pass pass) {
  Match& m = s.m;
  EditNeeds needs{m, fixed, pass == Pass::trial && s.large};
  std::size_t count = needs.count();
  if (count == 0) {  // an edit that misses every block's corner: all of it
    needs.in_blocks = false;
    count = needs.count();
  }
  Palette served{};  // the fixed colours, each once
  EntrySet listed{};
  std::copy(fixed_colours.begin(), fixed_colours.end(), served.begin());
  std::fill_n(listed.begin(), fixed_colours.size(), true);
  const NearestEntry nearest_fixed(served, &listed);
  const std::size_t taken = take_sample(m, needs, count, nearest_fixed);
  // In rows as wide as the picture's (of a large edit, its sampled grid's),
  // less what does not fill the last: in one row, the palettes chosen came
  // out worse. (libimagequant does not weigh by the neighbours' contrast
  // when it is given an importance map, as here.)
  const std::size_t row = std::max<std::size_t>(1, m.image.width / (needs.in_blocks ? 2 : 1));
  const std::size_t width = taken >= 4 * row ? row : taken;
  const std::size_t height = width == 0 ? 0 : taken / width;
  QuantizeRequest request;
  request.colours = std::span(m.scratch->sample).first(width * height);
  request.width = width;
  request.height = height;
  request.importance = std::span(m.scratch->sample_importance).first(width * height);
  return request;
}

std::span<const Rgba> edited_rows(const Match& m, std::size_t& first) {
  const std::span<const Rgba> wanted = wanted_colours(m);
  const std::size_t width = m.image.width;
  std::size_t last = 0;
  first = m.image.height;
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    if (!m.scratch->fresh[k]) continue;
    first = std::min(first, k / width);
    last = k / width;
  }
  if (first > last) first = last = 0;
  if (wanted.empty()) return wanted;
  return wanted.subspan(first * width, (last + 1 - first) * width);
}
