// The rules match_colours owns, on arrays, without files.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "prep/colour_match.h"
#include "support/samples.h"

namespace {

struct Work {
  TexLevels result{};
  TexLevels old{};
  MatchScratch scratch{};
};

EditedImage picture(std::size_t width, std::size_t height, const std::vector<TgaColour>& colours,
                    bool has_alpha) {
  EditedImage image;
  image.width = width;
  image.height = height;
  image.colours = colours;
  image.has_alpha = has_alpha;
  return image;
}

}  // namespace

TEST(ColourMatch, LowerLevelsAverageByAlphaSoTransparencyDoesNotDarken) {
  const auto work = std::make_unique<Work>();
  const TgaColour red = {255, 0, 0, 255}, clear = {0, 0, 0, 0};
  const TgaColour half_red = {255, 0, 0, 128}, half_dark = {128, 0, 0, 128};
  // Medium blocks: red over clear (mixed), half red, half dark red, red.
  std::vector<TgaColour> colours = {red,       red,       half_red, half_red, half_dark, half_dark,
                                    red,       red,       clear,    clear,    half_red,  half_red,
                                    half_dark, half_dark, red,      red};
  colours.resize(32, clear);
  PaletteSetting setting;
  setting.from_image = true;
  MatchCounts counts;
  ASSERT_EQ(match_colours(picture(8, 4, colours, true), OldTexture{}, setting, work->result, counts,
                          work->scratch),
            MatchResult::exact);
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
  const TgaColour kept = tex_entry_colour(palette[5], false), paint = {1, 2, 3, 255};
  std::vector<TgaColour> colours(32, kept);
  for (std::size_t k = 0; k < 32; ++k) {
    if (k % 8 >= 4) colours[k] = paint;
  }
  PaletteSetting setting;
  setting.palette = palette;
  MatchCounts counts;
  const OldTexture old = {true, &palette, &work->old};
  ASSERT_EQ(match_colours(picture(8, 4, colours, false), old, setting, work->result, counts,
                          work->scratch),
            MatchResult::exact);
  EXPECT_EQ(tex_entry_colour(setting.palette[2], false), paint);
  EXPECT_EQ(Bytes(work->result.high.begin(), work->result.high.begin() + 8),
            (Bytes{5, 5, 5, 5, 2, 2, 2, 2}));
  EXPECT_EQ(Bytes(work->result.medium.begin(), work->result.medium.begin() + 8),
            (Bytes{0, 5, 2, 2, 5, 5, 2, 2}));
  EXPECT_EQ(Bytes(work->result.low.begin(), work->result.low.begin() + 2), (Bytes{1, 2}));
  EXPECT_EQ(counts.kept, 16u);
  EXPECT_EQ(counts.fresh_colours, 1u);
  EXPECT_EQ(counts.medium_reused, 4u);
  EXPECT_EQ(counts.low_reused, 1u);
}

TEST(ColourMatch, AReductionKeepsAlphaZeroAndFullExactlyThroughDithering) {
  // Columns of alpha 0 and 255 between columns of every other alpha: dithering
  // alone gives many of them the alpha of an entry nearby.
  const auto work = std::make_unique<Work>();
  std::vector<TgaColour> colours;
  for (unsigned y = 0; y < 64; ++y) {
    for (unsigned x = 0; x < 64; ++x) {
      const auto alpha = static_cast<unsigned char>(x % 8 == 0 ? 0 : x % 8 == 4 ? 255 : x * 4 + y);
      colours.push_back({static_cast<unsigned char>(x * 4), static_cast<unsigned char>(y * 4),
                         static_cast<unsigned char>(x * y), alpha});
    }
  }
  PaletteSetting setting;
  setting.from_image = true;
  MatchCounts counts;
  ASSERT_EQ(match_colours(picture(64, 64, colours, true), OldTexture{}, setting, work->result,
                          counts, work->scratch),
            MatchResult::reduced);
  for (std::size_t k = 0; k < colours.size(); ++k) {
    if (colours[k][3] == 0 || colours[k][3] == 255) {
      ASSERT_EQ(setting.palette[work->result.high[k]][3], colours[k][3]) << k;
    }
  }
}

TEST(ColourMatch, LowerLevelsAverageLightNotStoredValues) {
  // A 1-pixel checker of two colours: its blocks show the light of both
  // halved, sRGB 188 for black and white, not the stored values' mean 128.
  const struct {
    TgaColour first, second, stored_mean, light_mean;
  } rows[] = {{{0, 0, 0, 255}, {255, 255, 255, 255}, {128, 128, 128, 255}, {188, 188, 188, 255}},
              {{255, 0, 0, 255}, {0, 255, 0, 255}, {128, 128, 0, 255}, {188, 188, 0, 255}}};
  for (const auto& row : rows) {
    const auto work = std::make_unique<Work>();
    PaletteSetting setting;
    const std::array<TgaColour, 4> entries = {row.first, row.second, row.stored_mean,
                                              row.light_mean};
    for (std::size_t n = 0; n < entries.size(); ++n)
      setting.palette[n] = tex_colour_entry(entries[n], false);
    std::vector<TgaColour> colours;
    for (std::size_t k = 0; k < 64; ++k)
      colours.push_back((k + k / 8) % 2 == 0 ? row.first : row.second);
    MatchCounts counts;
    ASSERT_EQ(match_colours(picture(8, 8, colours, false), OldTexture{}, setting, work->result,
                            counts, work->scratch),
              MatchResult::exact);
    EXPECT_EQ(Bytes(work->result.medium.begin(), work->result.medium.begin() + 16), Bytes(16, 3));
    EXPECT_EQ(Bytes(work->result.low.begin(), work->result.low.begin() + 4), Bytes(4, 3));
  }
}
