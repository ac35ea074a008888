// The rules match_colours owns, on arrays, without files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <vector>

#include "prep/colours.h"
#include "prep/match/matching.h"
#include "prep/prep_work.h"
#include "support/samples.h"

namespace {

struct Work {
  TexLevels result{};
  TexLevels old{};
  MatchScratch scratch{};
};

/// A match of a width × height picture, with no texture and the palette to
/// be made from the image, on work's storage.
Match picture(Work& work, std::size_t width, std::size_t height, const std::vector<Rgba>& colours,
              bool has_alpha) {
  Match m;
  m.image.width = width;
  m.image.height = height;
  m.image.colours = colours;
  m.image.has_alpha = has_alpha;
  m.setting.from_image = true;
  m.result = &work.result;
  m.scratch = &work.scratch;
  return m;
}

/// Gives a match a texture to keep: its palette and levels.
void replace_texture(Match& m, const TexPalette& palette, const TexLevels& levels) {
  m.setting.from_image = false;
  m.setting.palette = palette;
  m.old.usable = true;
  m.old.palette = &palette;
  m.old.levels = &levels;
}

}  // namespace

TEST(ColourMatch, LowerLevelsAverageByAlphaSoTransparencyDoesNotDarken) {
  const auto work = std::make_unique<Work>();
  const Rgba red = {255, 0, 0, 255}, clear = {0, 0, 0, 0};
  const Rgba half_red = {255, 0, 0, 128}, half_dark = {128, 0, 0, 128};
  // Medium blocks: red over clear (mixed), half red, half dark red, red.
  std::vector<Rgba> colours = {red,   red,   half_red, half_red, half_dark, half_dark, red, red,
                               clear, clear, half_red, half_red, half_dark, half_dark, red, red};
  colours.resize(32, clear);
  Match m = picture(*work, 8, 4, colours, true);
  ASSERT_TRUE(match_colours(m));
  EXPECT_FALSE(m.counts.reduced);
  // Entries by first appearance: red 0, half red 1, half dark 2, clear 3. The
  // mixed block averages to red at half alpha: half red, not half dark.
  EXPECT_EQ(Bytes(work->result.medium.begin(), work->result.medium.begin() + 8),
            (Bytes{1, 1, 2, 0, 3, 3, 3, 3}));
}

TEST(ColourMatch, ANewColourTakesTheLowestEntryNoKeptPixelHoldsAtAnyLevel) {
  // An 8 × 4 texture of entry 5 whose right half is repainted. Its left half
  // keeps a medium pixel of entry 0 and a low pixel of entry 1: both are
  // reused, so the new colour takes entry 2.
  const auto work = std::make_unique<Work>();
  TexPalette palette{};
  for (std::size_t n = 0; n < 256; ++n)
    palette[n] = {static_cast<unsigned char>(n), 10, 20, 255};
  work->old.high.fill(5);
  work->old.medium.fill(5);
  work->old.medium[0] = 0;
  work->old.low.fill(5);
  work->old.low[0] = 1;
  const Rgba kept = tex_entry_colour(palette[5], false), paint = {1, 2, 3, 255};
  std::vector<Rgba> colours(32, kept);
  for (std::size_t k = 0; k < 32; ++k) {
    if (k % 8 >= 4) colours[k] = paint;
  }
  Match m = picture(*work, 8, 4, colours, false);
  replace_texture(m, palette, work->old);
  ASSERT_TRUE(match_colours(m));
  EXPECT_FALSE(m.counts.reduced);
  EXPECT_EQ(tex_entry_colour(m.setting.palette[2], false), paint);
  EXPECT_EQ(Bytes(work->result.high.begin(), work->result.high.begin() + 8),
            (Bytes{5, 5, 5, 5, 2, 2, 2, 2}));
  EXPECT_EQ(Bytes(work->result.medium.begin(), work->result.medium.begin() + 8),
            (Bytes{0, 5, 2, 2, 5, 5, 2, 2}));
  EXPECT_EQ(Bytes(work->result.low.begin(), work->result.low.begin() + 2), (Bytes{1, 2}));
  EXPECT_EQ(m.counts.kept, 16u);
  EXPECT_EQ(m.counts.fresh_colours, 1u);
  EXPECT_EQ(m.counts.reused[1], 4u);
  EXPECT_EQ(m.counts.reused[2], 1u);
}

TEST(ColourMatch, AReductionKeepsAlphaZeroAndFullExactlyThroughDithering) {
  // Columns of alpha 0 and 255 between columns of every other alpha: dithering
  // alone gives many of them the alpha of an entry nearby.
  const auto work = std::make_unique<Work>();
  std::vector<Rgba> colours;
  for (unsigned y = 0; y < 64; ++y) {
    for (unsigned x = 0; x < 64; ++x) {
      const auto alpha = static_cast<unsigned char>(x % 8 == 0 ? 0 : x % 8 == 4 ? 255 : x * 4 + y);
      colours.push_back({static_cast<unsigned char>(x * 4), static_cast<unsigned char>(y * 4),
                         static_cast<unsigned char>(x * y), alpha});
    }
  }
  Match m = picture(*work, 64, 64, colours, true);
  ASSERT_TRUE(match_colours(m));
  ASSERT_TRUE(m.counts.reduced);
  for (std::size_t k = 0; k < colours.size(); ++k) {
    if (colours[k][3] == 0 || colours[k][3] == 255) {
      ASSERT_EQ(m.setting.palette[work->result.high[k]][3], colours[k][3]) << k;
    }
  }
  // Without a texture every pixel is new: each has exactly its colour or is dithered.
  const Reduction& r = m.counts.reduction;
  EXPECT_EQ(r.exact_pixels + r.dithered_pixels, colours.size());
}

TEST(ColourMatch, LowerLevelsAverageLightNotStoredValues) {
  // A 1-pixel checker of two colours: its blocks show the light of both
  // halved, sRGB 188 for black and white, not the stored values' mean 128.
  const struct {
    Rgba first, second, stored_mean, light_mean;
  } rows[] = {{{0, 0, 0, 255}, {255, 255, 255, 255}, {128, 128, 128, 255}, {188, 188, 188, 255}},
              {{255, 0, 0, 255}, {0, 255, 0, 255}, {128, 128, 0, 255}, {188, 188, 0, 255}}};
  for (const auto& row : rows) {
    const auto work = std::make_unique<Work>();
    std::vector<Rgba> colours;
    for (std::size_t k = 0; k < 64; ++k)
      colours.push_back((k + k / 8) % 2 == 0 ? row.first : row.second);
    Match m = picture(*work, 8, 8, colours, false);
    m.setting.from_image = false;
    const std::array<Rgba, 4> entries = {row.first, row.second, row.stored_mean, row.light_mean};
    for (std::size_t n = 0; n < entries.size(); ++n)
      m.setting.palette[n] = tex_colour_entry(entries[n], false);
    ASSERT_TRUE(match_colours(m));
    EXPECT_EQ(Bytes(work->result.medium.begin(), work->result.medium.begin() + 16), Bytes(16, 3));
    EXPECT_EQ(Bytes(work->result.low.begin(), work->result.low.begin() + 4), Bytes(4, 3));
  }
}

TEST(ColourMatch, OnlyDitheredPixelsAreCountedAsDithered) {
  // A texture using all 256 entries on its left quarter, the rest painted
  // over with thousands of colours: most entries must go. Kept pixels whose
  // colour the new palette dropped take the nearest entry; only new colours
  // are dithered.
  const auto work = std::make_unique<Work>();
  TexPalette palette{};
  for (std::size_t n = 0; n < 256; ++n)
    palette[n] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n * 7),
                  static_cast<unsigned char>(255 - n), 255};
  std::vector<Rgba> colours(64 * 64);
  for (std::size_t k = 0; k < colours.size(); ++k) {
    work->old.high[k] = static_cast<unsigned char>((k / 64) * 16 + k % 64);
    colours[k] = k % 64 < 16
                     ? tex_entry_colour(palette[work->old.high[k]], false)
                     : Rgba{static_cast<unsigned char>(k * 4), static_cast<unsigned char>(k),
                            static_cast<unsigned char>(k / 16), 255};
  }
  Match m = picture(*work, 64, 64, colours, false);
  replace_texture(m, palette, work->old);
  ASSERT_TRUE(match_colours(m));
  ASSERT_TRUE(m.counts.reduced);
  const auto in_palette = [&](const Rgba& c) {
    return std::any_of(m.setting.palette.begin(), m.setting.palette.end(),
                       [&](const TexPaletteEntry& e) { return tex_entry_colour(e, false) == c; });
  };
  std::size_t dithered = 0;
  std::size_t nearest = 0;
  for (std::size_t k = 0; k < colours.size(); ++k) {
    dithered += m.scratch->fresh[k] && !in_palette(colours[k]);
    nearest += !m.scratch->fresh[k] && !in_palette(colours[k]);
  }
  EXPECT_GT(nearest, 0u);
  EXPECT_EQ(m.counts.reduction.dithered_pixels, dithered);
}

TEST(ColourMatch, TheSortedSearchFindsTheEntryAFullSearchFinds) {
  // Random palettes with repeated colours (equals: the lowest entry wins),
  // some entries left out, and colours near and far from them.
  std::uint32_t seed = 12345;
  const auto next = [&seed]() {
    seed = seed * 1664525U + 1013904223U;
    return static_cast<unsigned char>(seed >> 24);
  };
  for (int round = 0; round < 20; ++round) {
    Palette palette{};
    std::array<bool, 256> marked{};
    for (std::size_t n = 0; n < 256; ++n) {
      palette[n] = n % 5 == 4 ? palette[n / 2] : Rgba{next(), next(), next(), next()};
      marked[n] = round % 2 == 0 || next() % 3 != 0;
    }
    NearestEntry sorted(palette, &marked);
    for (int k = 0; k < 2000; ++k) {
      Rgba c = {next(), next(), next(), next()};
      if (k % 2 == 0) c[k % 4] = palette[c[1]][k % 4];  // near an entry
      std::int64_t distance = 0;
      ASSERT_EQ(sorted.find(c), find_nearest(c, palette, &marked, distance)) << round << " " << k;
    }
    // And colours are counted as a set counts them, see-through black's key 0 among them.
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(round) * 300);
    for (std::uint32_t& key : keys)
      key = next() % 4 == 0 ? 0 : pack_colour(palette[next() % 64]);
    EXPECT_EQ(count_distinct(keys), std::set<std::uint32_t>(keys.begin(), keys.end()).size());
  }
}

TEST(ColourMatch, LargeEditsOfAnyShapeTakeTheirOwnColours) {
  // Large edits of a texture that uses all its entries: on alternate
  // columns; on the one corner of each block of two by two that the
  // palettes compared are not made from (they are made from all of it
  // instead); on bands of rows at the top and at the bottom (only the rows
  // holding the edit are remapped); and a grille of two new colours, small
  // and large (more pixels than a palette is made from). Untouched pixels
  // whose entry kept its colour keep their index; the edit comes out near
  // the colours asked for. The bands, of noise unlike the palette, may well
  // take a fresh palette.
  struct Shape {
    const char* name;
    bool (*edited)(std::size_t x, std::size_t y);
    Rgba (*colour)(std::size_t x, std::size_t y);
    bool mostly_kept;
    double most_error;  // root mean square over the channels
    std::size_t side = 64;
  };
  // Noise unlike the palette, far more colours than entries: 17 to 19; 74
  // when the bottom rows took the indices remapped for other rows.
  const auto noise = [](std::size_t x, std::size_t y) {
    const std::size_t k = y * 64 + x;
    return Rgba{static_cast<unsigned char>(k * 5), static_cast<unsigned char>(k),
                static_cast<unsigned char>(k / 20), 255};
  };
  // A grille: each colour must come out exactly, though the pixels of one
  // are all on odd columns (56 when palettes were made from even columns
  // only, or from every other pixel of the large one).
  const auto grille = [](std::size_t x, std::size_t) {
    return x % 2 == 0 ? Rgba{20, 20, 20, 255} : Rgba{235, 235, 235, 255};
  };
  const Shape shapes[] = {
      {"odd columns", [](std::size_t x, std::size_t) { return x % 2 == 1; }, noise, true, 30},
      {"weighed corners",
       [](std::size_t x, std::size_t y) { return x % 2 != (y / 2) % 2 && y % 2 != (x / 2) % 2; },
       noise, true, 30},
      {"top rows", [](std::size_t, std::size_t y) { return y < 16; }, noise, false, 30},
      {"bottom rows", [](std::size_t, std::size_t y) { return y >= 48; }, noise, false, 30},
      {"grille", [](std::size_t, std::size_t y) { return y >= 40; }, grille, true, 0.5},
      {"large grille", [](std::size_t, std::size_t y) { return y >= 160; }, grille, true, 0.5, 256},
  };
  TexPalette palette{};
  for (std::size_t n = 0; n < 256; ++n)
    palette[n] = {static_cast<unsigned char>(n), static_cast<unsigned char>(255 - n),
                  static_cast<unsigned char>(n * 3), 255};
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const auto work = std::make_unique<Work>();
    const std::size_t side = shape.side;
    std::vector<Rgba> colours(side * side);
    for (std::size_t k = 0; k < colours.size(); ++k) {
      work->old.high[k] = static_cast<unsigned char>(k % 256);
      colours[k] = !shape.edited(k % side, k / side) ? tex_entry_colour(palette[k % 256], false)
                                                     : shape.colour(k % side, k / side);
    }
    Match m = picture(*work, side, side, colours, false);
    replace_texture(m, palette, work->old);
    ASSERT_TRUE(match_colours(m));
    EXPECT_TRUE(m.counts.reduced);
    std::size_t kept = 0;
    std::size_t untouched = 0;
    double edit_error = 0;
    std::size_t edited = 0;
    for (std::size_t k = 0; k < colours.size(); ++k) {
      const Rgba shown = tex_entry_colour(m.setting.palette[work->result.high[k]], false);
      if (shape.edited(k % side, k / side)) {
        for (std::size_t ch = 0; ch < 4; ++ch)
          edit_error += (shown[ch] - colours[k][ch]) * (shown[ch] - colours[k][ch]);
        ++edited;
        continue;
      }
      ++untouched;
      if (m.setting.palette[work->old.high[k]] == palette[work->old.high[k]]) {
        ASSERT_EQ(work->result.high[k], work->old.high[k]) << k;
        ++kept;
      }
    }
    if (shape.mostly_kept) {
      EXPECT_GT(kept, untouched / 2);
    }
    EXPECT_LT(std::sqrt(edit_error / (4.0 * static_cast<double>(edited))), shape.most_error);
  }
}

TEST(ColourMatch, EntriesGivenUpCostTheLowerLevelsNoLargerShareThanTheHighLevel) {
  // The cheapest entries to give up (248 to 255) are used by one medium
  // pixel each and by no high-level pixel: a small edit's two new colours
  // taking two of them would cost the medium level pixels and the high
  // level none. The entries given up leave the medium level at least the
  // high level's share of its untouched pixels.
  const auto work = std::make_unique<Work>();
  TexPalette palette{};
  for (std::size_t n = 0; n < 256; ++n)
    palette[n] = {static_cast<unsigned char>(n), static_cast<unsigned char>(255 - n),
                  static_cast<unsigned char>(n * 3), 255};
  const std::span<unsigned char> medium = tex_level(work->old, 1, 64, 64);
  const std::span<unsigned char> low = tex_level(work->old, 2, 64, 64);
  for (std::size_t i = 0; i < medium.size(); ++i)
    medium[i] = static_cast<unsigned char>(i < 8 ? 248 + i : 100 + i % 64);
  for (std::size_t i = 0; i < low.size(); ++i)
    low[i] = static_cast<unsigned char>(100 + i % 64);
  std::vector<Rgba> colours(64 * 64);
  for (std::size_t k = 0; k < colours.size(); ++k) {
    work->old.high[k] = static_cast<unsigned char>(k % 248);
    colours[k] = tex_entry_colour(palette[work->old.high[k]], false);
  }
  const auto edited = [](std::size_t k) { return k % 64 >= 56 && k / 64 >= 56; };
  for (std::size_t k = 0; k < colours.size(); ++k) {
    if (edited(k)) colours[k] = k % 2 == 0 ? Rgba{7, 200, 90, 255} : Rgba{250, 10, 120, 255};
  }
  Match m = picture(*work, 64, 64, colours, false);
  replace_texture(m, palette, work->old);
  ASSERT_TRUE(match_colours(m));
  ASSERT_TRUE(m.counts.reduced);
  const auto kept = [&](unsigned char now, unsigned char was) {
    return now == was && m.setting.palette[was] == palette[was];
  };
  double high_kept = 0;
  double high_untouched = 0;
  for (std::size_t k = 0; k < colours.size(); ++k) {
    if (edited(k)) continue;
    ++high_untouched;
    high_kept += kept(work->result.high[k], work->old.high[k]) ? 1 : 0;
  }
  const std::span<const unsigned char> medium_now = tex_level(work->result, 1, 64, 64);
  double medium_kept = 0;
  double medium_untouched = 0;
  for (std::size_t i = 0; i < medium.size(); ++i) {
    if (edited((i / 32) * 2 * 64 + (i % 32) * 2)) continue;  // the block's first pixel
    ++medium_untouched;
    medium_kept += kept(medium_now[i], medium[i]) ? 1 : 0;
  }
  EXPECT_LT(high_kept, high_untouched);  // something was given up
  EXPECT_GE(medium_kept / medium_untouched, high_kept / high_untouched);
}
