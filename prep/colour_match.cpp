#include "prep/colour_match.h"

#include "prep/palette_colours.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

/// The key of a colour by red, green and blue alone.
std::uint32_t pack_rgb(const TgaColour& c) {
  return pack_colour(c) & 0x00ffffffU;
}

/// Whether every entry the colour map holds has the palette's colour at the
/// same index (red, green and blue; alpha too when the image has alpha of its
/// own): then the image's indices mean the palette's entries.
bool map_is_palette(const TgaColourMap& map, const Palette& palette, bool with_alpha) {
  for (std::size_t n = 0; n < 256; ++n) {
    if (!map.present[n]) continue;
    if (with_alpha ? pack_colour(map.colour[n]) != pack_colour(palette[n])
                   : pack_rgb(map.colour[n]) != pack_rgb(palette[n]))
      return false;
  }
  return true;
}

/// Whose alpha the pixels take. A paint program that adds an alpha channel
/// (saving as RGBA) gives every pixel alpha 255; a translucent logo pasted on
/// top then makes the image "have alpha" without the palette's. That shows
/// where pixels kept the texture's colour at its place: where that colour
/// is translucent in the texture and every such pixel is opaque here, the
/// alpha was added. Without any such pixel (a picture painted anew) there is
/// nothing to tell by, and the image's alpha stands.
AlphaSource choose_alpha(const EditedImage& image, const OldTexture& old, const Palette& colours) {
  if (!image.has_alpha) return AlphaSource::texture;
  if (!old.usable) return AlphaSource::image;
  bool witnessed = false;
  for (std::size_t k = 0; k < image.colours.size(); ++k) {
    const TgaColour& was = colours[old.levels->high[k]];
    const TgaColour& is = image.colours[k];
    if (was[3] == 255 || pack_rgb(was) != pack_rgb(is)) continue;
    if (is[3] != 255) return AlphaSource::image;
    witnessed = true;
  }
  return witnessed ? AlphaSource::texture_where_opaque : AlphaSource::image;
}

/// The colour a pixel asks for: with the alpha of the texture's entry at the
/// same place where the texture's alpha counts (opaque without a texture).
TgaColour wanted_colour(const EditedImage& image, const OldTexture& old, const Palette& colours,
                        AlphaSource alpha, std::size_t k) {
  TgaColour c = image.colours[k];
  const bool texture_alpha =
      alpha == AlphaSource::texture || (alpha == AlphaSource::texture_where_opaque && c[3] == 255);
  if (texture_alpha) c[3] = old.usable ? colours[old.levels->high[k]][3] : 255;
  return c;
}

/// Takes every pixel by its own index: the image's colour map is the palette,
/// whose colours the pixels then ask for.
void take_indices(const EditedImage& image, const Palette& colours, TexLevels& result,
                  MatchCounts& counts, MatchScratch& scratch) {
  std::copy(image.indices.begin(), image.indices.end(), result.high.begin());
  std::fill_n(scratch.fresh.begin(), image.indices.size(), false);
  for (std::size_t k = 0; k < image.indices.size(); ++k)
    scratch.wanted[k] = colours[image.indices[k]];
  counts.kept = image.indices.size();
}

/// Takes every pixel by its colour (colours: the palette's): the texture's own
/// index where that entry has it, else the lowest entry that has it, else it
/// is a new colour. Returns how many pixels have new colours; their colours
/// are gathered in the scratch.
std::size_t take_colours(const EditedImage& image, const OldTexture& old,
                         const PaletteSetting& setting, const Palette& colours, TexLevels& result,
                         MatchCounts& counts, MatchScratch& scratch) {
  // Without alpha of the image's own or the texture's, only red, green and blue can be compared.
  const bool rgb_only = !image.has_alpha && !old.usable;
  ColourIndex lowest;
  if (!setting.from_image) {
    for (int n = 0; n < 256; ++n)
      lowest.add(rgb_only ? pack_rgb(colours[n]) : pack_colour(colours[n]), n);
  }
  std::size_t fresh = 0;
  for (std::size_t k = 0; k < image.colours.size(); ++k) {
    const TgaColour c = wanted_colour(image, old, colours, counts.alpha, k);
    scratch.fresh[k] = false;
    scratch.wanted[k] = c;
    if (old.usable && colours[old.levels->high[k]] == c) {
      result.high[k] = old.levels->high[k];
      ++counts.kept;
      continue;
    }
    const int found = lowest.find(rgb_only ? pack_rgb(c) : pack_colour(c));
    if (found >= 0) {
      result.high[k] = static_cast<unsigned char>(found);
      scratch.wanted[k] = colours[static_cast<std::size_t>(found)];  // its alpha, matched without
      ++counts.matched;
      continue;
    }
    scratch.fresh[k] = true;
    scratch.keys[fresh++] = pack_colour(c);
  }
  counts.fresh_pixels = fresh;
  return fresh;
}

/// A block of the high level, size × size pixels from (x0, y0), counted in
/// the TEX file's order: x from the left, y from the bottom row.
struct Block {
  std::size_t x0;
  std::size_t y0;
  std::size_t size;
};

/// The palette before it was made anew, when it was: a reused pixel must
/// then also still mean the colour it meant.
struct Remade {
  const TexPalette* before = nullptr;
  const TexPalette* after = nullptr;
  bool expanded = false;  ///< the entries show as sub-type 14 shows them
};

/// Whether an index means the colour it meant before the palette was made anew.
bool same_colour(const Remade& remade, unsigned char index) {
  return remade.before == nullptr || (*remade.before)[index] == (*remade.after)[index];
}

/// Whether a block has the texture's indices and no new colour (after a
/// reduction: indices that still mean the same colours); then the texture's
/// lower-level pixel for it still stands.
bool block_unchanged(const EditedImage& image, const OldTexture& old, const TexLevels& result,
                     const MatchScratch& scratch, const Block& block, const Remade& remade) {
  if (!old.usable) return false;
  for (std::size_t y = block.y0; y < block.y0 + block.size; ++y) {
    for (std::size_t x = block.x0; x < block.x0 + block.size; ++x) {
      const std::size_t k = y * image.width + x;
      const bool new_colour =
          remade.before == nullptr ? scratch.fresh[k] : !same_colour(remade, result.high[k]);
      if (new_colour || result.high[k] != old.levels->high[k]) return false;
    }
  }
  return true;
}

/// Whether no pixel of a block has a colour the edit brought.
bool untouched_by_edit(const EditedImage& image, const MatchScratch& scratch, const Block& block) {
  for (std::size_t y = block.y0; y < block.y0 + block.size; ++y) {
    for (std::size_t x = block.x0; x < block.x0 + block.size; ++x) {
      if (scratch.fresh[y * image.width + x]) return false;
    }
  }
  return true;
}

/// One lower level: its block size (2 for the medium level, 4 for the low),
/// where it is made, the texture's own, and its counts for the summary.
struct LowerLevel {
  std::size_t size;
  std::span<unsigned char> made;
  std::span<const unsigned char> old;
  unsigned long* reused;
  unsigned long* made_count;
};

/// Counts, by entry, the texture's lower-level pixels that are reused.
void count_reused_entries(const EditedImage& image, const OldTexture& old, const TexLevels& result,
                          const MatchScratch& scratch, const LowerLevel& level,
                          std::array<std::size_t, 256>& users) {
  const std::size_t width = image.width / level.size;
  const std::size_t height = image.height / level.size;
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      const Block block = {x * level.size, y * level.size, level.size};
      if (block_unchanged(image, old, result, scratch, block, Remade{}))
        ++users[level.old[y * width + x]];
    }
  }
}

/// The light a stored sRGB value stands for, 0 to 1: averaging the values
/// themselves would turn a black and white checker into grey 128, where the
/// eye (and a blur) sees 188.
float decode_srgb(unsigned char value) {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> light{};
    for (std::size_t v = 0; v < 256; ++v) {
      const double c = static_cast<double>(v) / 255.0;
      light[v] = static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
    return light;
  }();
  return table[value];
}

/// The sRGB value that stands for an amount of light, rounded.
unsigned char encode_srgb(double light) {
  const double c = light <= 0.0031308 ? light * 12.92 : 1.055 * std::pow(light, 1 / 2.4) - 0.055;
  return static_cast<unsigned char>(std::clamp(c * 255.0 + 0.5, 0.0, 255.0));
}

/// The index for a block that changed: the entry nearest to the colours its
/// pixels ask for (the picture before any reduction or dithering), averaged
/// as light and weighted by alpha, so that transparent pixels do not darken
/// the edge of what shows. A block of one colour keeps its high-level index.
unsigned char make_block_index(const EditedImage& image, const TexLevels& result,
                               const MatchScratch& scratch, NearestEntry& nearest,
                               const Block& block) {
  const std::size_t first = block.y0 * image.width + block.x0;
  bool one_colour = true;
  std::array<double, 3> weighted{};
  std::array<double, 3> plain{};
  std::uint64_t alpha = 0;
  for (std::size_t y = block.y0; y < block.y0 + block.size; ++y) {
    for (std::size_t x = block.x0; x < block.x0 + block.size; ++x) {
      const TgaColour& c = scratch.wanted[y * image.width + x];
      one_colour = one_colour && c == scratch.wanted[first];
      for (std::size_t ch = 0; ch < 3; ++ch) {
        weighted[ch] += static_cast<double>(decode_srgb(c[ch])) * c[3];
        plain[ch] += decode_srgb(c[ch]);
      }
      alpha += c[3];
    }
  }
  if (one_colour) return result.high[first];
  const std::uint64_t count = block.size * block.size;
  TgaColour average{};
  for (std::size_t ch = 0; ch < 3; ++ch) {
    average[ch] = encode_srgb(alpha > 0 ? weighted[ch] / static_cast<double>(alpha)
                                        : plain[ch] / static_cast<double>(count));
  }
  average[3] = static_cast<unsigned char>((alpha + count / 2) / count);
  return nearest.find(average);
}

void make_level(const EditedImage& image, const OldTexture& old, const TexLevels& result,
                const MatchScratch& scratch, NearestEntry& nearest, const LowerLevel& level,
                const Remade& remade) {
  const std::size_t width = image.width / level.size;
  const std::size_t height = image.height / level.size;
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      const Block block = {x * level.size, y * level.size, level.size};
      const std::size_t at = y * width + x;
      // After a reduction a block the edit did not touch shows what it
      // showed, as near as the new palette allows, even where dithering or
      // a dropped colour changed its high-level pixels.
      const bool untouched =
          remade.before != nullptr && old.usable && untouched_by_edit(image, scratch, block);
      if ((untouched || block_unchanged(image, old, result, scratch, block, remade)) &&
          same_colour(remade, level.old[at])) {
        level.made[at] = level.old[at];
        ++*level.reused;
      } else if (untouched) {
        level.made[at] =
            nearest.find(tex_entry_colour((*remade.before)[level.old[at]], remade.expanded));
        ++*level.made_count;
      } else {
        level.made[at] = make_block_index(image, result, scratch, nearest, block);
        ++*level.made_count;
      }
    }
  }
}

/// The entries that pixels keeping their colour use (users, at all three
/// levels), to be kept through a reduction, most worth keeping first: what
/// dropping one would cost is the pixels that use it times how far its
/// nearest other kept colour lies, so that of nearly equal colours one is
/// enough, and a colour only a few pixels of a lower level need still counts.
std::vector<unsigned char> rank_kept_entries(const std::array<std::size_t, 256>& users,
                                             const Palette& colours) {
  std::vector<unsigned char> ranked;
  for (std::size_t n = 0; n < 256; ++n) {
    if (users[n] > 0) ranked.push_back(static_cast<unsigned char>(n));
  }
  std::array<double, 256> cost{};
  for (const unsigned char n : ranked) {
    std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
    for (const unsigned char other : ranked) {
      if (other != n)
        nearest = std::min(nearest, colour_distance(colours[n], colours[other], nearest));
    }
    cost[n] = static_cast<double>(users[n]) * std::sqrt(static_cast<double>(nearest));
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [&](unsigned char a, unsigned char b) { return cost[a] > cost[b]; });
  return ranked;
}

/// Gives each new colour a free entry, in the order the colours first appear
/// in the pixels, lowest free entry first.
void place_new_colours(const EditedImage& image, const std::vector<unsigned char>& free,
                       PaletteSetting& setting, TexLevels& result, MatchCounts& counts,
                       const MatchScratch& scratch) {
  ColourIndex placed;
  std::size_t next = 0;
  for (std::size_t k = 0; k < image.colours.size(); ++k) {
    if (!scratch.fresh[k]) continue;
    const TgaColour& c = scratch.wanted[k];
    int index = placed.find(pack_colour(c));
    if (index < 0) {
      index = free[next++];
      placed.add(pack_colour(c), index);
      setting.palette[static_cast<std::size_t>(index)] = tex_colour_entry(c, setting.expanded);
      counts.entries_taken[static_cast<std::size_t>(index)] = true;
    }
    result.high[k] = static_cast<unsigned char>(index);
  }
}

/// The lower levels' parts of the work: the medium level from 2 × 2 blocks,
/// the low level from 4 × 4, each beside the texture's own.
std::array<LowerLevel, 2> lower_levels(const OldTexture& old, TexLevels& result,
                                       MatchCounts& counts) {
  std::span<const unsigned char> old_medium;
  std::span<const unsigned char> old_low;
  if (old.usable) {
    old_medium = old.levels->medium;
    old_low = old.levels->low;
  }
  return {LowerLevel{2, result.medium, old_medium, &counts.medium_reused, &counts.medium_made},
          LowerLevel{4, result.low, old_low, &counts.low_reused, &counts.low_made}};
}

/// First phase: every high-level pixel by the image's own index when its
/// colour map is the palette (or the texture's), else by colour. Returns how
/// many pixels have colours the palette lacks.
std::size_t find_high_indices(const EditedImage& image, const OldTexture& old,
                              PaletteSetting& setting, TexLevels& result, MatchCounts& counts,
                              MatchScratch& scratch) {
  if (setting.from_image) setting.palette.fill({0, 0, 0, 0});
  const Palette colours = colours_of(setting.palette, setting.expanded);
  const bool alpha = image.has_alpha;
  const bool by_index =
      image.map != nullptr &&
      ((!setting.from_image && map_is_palette(*image.map, colours, alpha)) ||
       (old.usable &&
        map_is_palette(*image.map, colours_of(*old.palette, setting.expanded), alpha)));
  if (by_index) {
    counts.alpha = alpha ? AlphaSource::image : AlphaSource::texture;
    take_indices(image, colours, result, counts, scratch);
    return 0;
  }
  counts.alpha = choose_alpha(image, old, colours);
  return take_colours(image, old, setting, colours, result, counts, scratch);
}

/// Second phase: how many pixels that keep their colour use each entry, at
/// the high level or reused below; the entries none uses are free.
std::vector<unsigned char> find_free_entries(const EditedImage& image, const OldTexture& old,
                                             const TexLevels& result, const MatchScratch& scratch,
                                             const std::array<LowerLevel, 2>& lower,
                                             std::array<std::size_t, 256>& users) {
  for (std::size_t k = 0; k < image.colours.size(); ++k) {
    if (!scratch.fresh[k]) ++users[result.high[k]];
  }
  for (const LowerLevel& level : lower)
    count_reused_entries(image, old, result, scratch, level, users);
  std::vector<unsigned char> free;
  for (std::size_t n = 0; n < 256; ++n) {
    if (users[n] == 0) free.push_back(static_cast<unsigned char>(n));
  }
  return free;
}

/// Third phase: the new colours into free entries, or, when they do not fit,
/// a palette made anew for the whole picture, keeping the entries of kept
/// pixels where it can. False when the reduction fails.
bool fit_new_colours(const EditedImage& image, const std::vector<unsigned char>& free,
                     const std::array<std::size_t, 256>& users, PaletteSetting& setting,
                     TexLevels& result, MatchCounts& counts, MatchScratch& scratch) {
  if (counts.fresh_colours <= counts.free_entries) {
    place_new_colours(image, free, setting, result, counts, scratch);
    return true;
  }
  ReductionInput input;
  input.colours = std::span(scratch.wanted).first(image.colours.size());
  input.fresh = std::span(scratch.fresh).first(image.colours.size());
  input.width = image.width;
  input.height = image.height;
  input.expanded = setting.expanded;
  input.kept = rank_kept_entries(users, colours_of(setting.palette, setting.expanded));
  if (!reduce_colours(input, setting.palette, result.high, scratch.keys, counts.reduction))
    return false;
  counts.reduced = true;
  return true;
}

/// Last phase: the medium and low levels, reused where the picture did not
/// change, made from their blocks elsewhere.
void make_lower_levels(const EditedImage& image, const OldTexture& old,
                       const PaletteSetting& setting, const TexLevels& result,
                       const MatchScratch& scratch, const std::array<LowerLevel, 2>& lower,
                       const Remade& remade) {
  const Palette colours = colours_of(setting.palette, setting.expanded);
  NearestEntry nearest(colours);
  for (const LowerLevel& level : lower)
    make_level(image, old, result, scratch, nearest, level, remade);
}

/// Counts the pixels that were opaque in the texture and are translucent in
/// the result while the image has no alpha to show it: indices taken from an
/// indexed image, or colours snapped to translucent entries, punch holes the
/// user could not see.
void count_holes(const EditedImage& image, const OldTexture& old, const PaletteSetting& setting,
                 const TexLevels& result, MatchCounts& counts) {
  if (image.has_alpha || !old.usable) return;
  const Palette was = colours_of(*old.palette, setting.expanded);
  const Palette is = colours_of(setting.palette, setting.expanded);
  for (std::size_t k = 0; k < image.colours.size(); ++k) {
    const unsigned char entry = result.high[k];
    if (was[old.levels->high[k]][3] != 255 || is[entry][3] == 255) continue;
    ++counts.holes;
    counts.hole_entries[entry] = true;
  }
}

}  // namespace

MatchResult match_colours(const EditedImage& image, const OldTexture& old, PaletteSetting& setting,
                          TexLevels& result, MatchCounts& counts, MatchScratch& scratch) {
  const std::size_t fresh = find_high_indices(image, old, setting, result, counts, scratch);
  const std::array<LowerLevel, 2> lower = lower_levels(old, result, counts);
  std::array<std::size_t, 256> users{};
  const std::vector<unsigned char> free =
      find_free_entries(image, old, result, scratch, lower, users);
  counts.fresh_colours = fresh > 0 ? count_distinct(std::span(scratch.keys).first(fresh)) : 0;
  counts.free_entries = free.size();
  const TexPalette before = setting.palette;
  if (!fit_new_colours(image, free, users, setting, result, counts, scratch))
    return MatchResult::reduction_failed;
  // After a reduction a reused pixel must also still mean the colour it meant.
  const Remade remade =
      counts.reduced ? Remade{&before, &setting.palette, setting.expanded} : Remade{};
  make_lower_levels(image, old, setting, result, scratch, lower, remade);
  count_holes(image, old, setting, result, counts);
  return counts.reduced ? MatchResult::reduced : MatchResult::exact;
}
