// skinprep end to end: what it guarantees, not how it gets there.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "prep/preview.h"
#include "support/samples.h"
#include "support/streams.h"
#include "support/tools.h"

namespace fs = std::filesystem;

namespace {

RunResult run(const std::string& exe, const TempDir& dir, const std::vector<std::string>& args) {
  return run_tool(exe, args, dir.path());
}

/// One trip round the end of the loop: skinprep on the name given, then
/// skinweld on car1; skinprep's transcript, and whether the weld gave back
/// the texture expected without a word.
struct Trip {
  RunResult prep;
  RunResult weld;
};

Trip prepare_and_weld(const TempDir& dir, const std::string& name) {
  Trip trip{run(kSkinprep, dir, {name}), {}};
  trip.weld = run(kSkinweld, dir, {"car1"});
  return trip;
}

void expect_welded(const TempDir& dir, const Trip& trip, const Bytes& expected) {
  EXPECT_EQ(trip.prep.exit_code, 0) << trip.prep.err;
  EXPECT_EQ(trip.weld.exit_code, 0) << trip.weld.err;
  EXPECT_EQ(trip.weld.err, "");  // no colour-map warning
  EXPECT_EQ(first_difference(read_file(dir / "car1.tex"), expected), -1);
}

/// Byte offsets of the parts of a TEX file written by skinweld.
constexpr std::size_t kPixels = 1038;

/// A sample texture whose palette repeats colours: entries 200 to 209 are
/// entries 10 to 19 exactly, entries 220 to 229 have the colours of 30 to 39
/// with other alphas. Pixels use all of them.
Bytes texture_with_duplicates(TexSubtype subtype, unsigned x, unsigned y) {
  Bytes tex = make_tex(subtype, x, y);
  for (std::size_t n = 0; n < 10; ++n) {
    std::copy_n(tex.begin() + static_cast<long>(14 + 4 * (10 + n)), 4,
                tex.begin() + static_cast<long>(14 + 4 * (200 + n)));
    std::copy_n(tex.begin() + static_cast<long>(14 + 4 * (30 + n)), 3,
                tex.begin() + static_cast<long>(14 + 4 * (220 + n)));
  }
  return tex;
}

/// The high level of a TEX file as colours, bottom row first, opaque
/// without keep_alpha.
std::vector<Rgba> high_colours(const Bytes& tex, bool keep_alpha) {
  std::vector<Rgba> colours = tex_level_colours(tex, 0);
  for (Rgba& c : colours)
    c[3] = keep_alpha ? c[3] : 255;
  return colours;
}

/// An 8-bit image of the texture's high level whose colour map is the
/// palette's colours moved to other places: reversed, or packed in order of
/// first use (pruned), as paint programs save it.
Bytes remapped_image(const Bytes& tex, bool pruned, const TgaOptions& options) {
  const unsigned x = get_u16le(&tex[0]);
  const unsigned y = get_u16le(&tex[2]);
  std::vector<int> place(256, -1);
  TexPalette map{};
  Bytes pixels;
  int next = 0;
  for (std::size_t k = 0; k < std::size_t{x} * y; ++k) {
    const unsigned char index = tex[kPixels + k];
    if (place[index] < 0) place[index] = pruned ? next++ : 255 - index;
    const Rgba c = tex_shown_colour(tex, index);
    map[static_cast<std::size_t>(place[index])] = {c[2], c[1], c[0], 0};
    pixels.push_back(static_cast<unsigned char>(place[index]));
  }
  Bytes image = make_tga8(x, y, pixels, map, options);
  if (pruned) put_u16le(&image[5], static_cast<std::uint16_t>(next));  // only the entries used
  if (pruned)
    image.erase(image.begin() + 18 + static_cast<long>(options.image_id.size()) + 3 * next,
                image.begin() + 18 + static_cast<long>(options.image_id.size()) + 768);
  return image;
}

/// A texture in 8 x 8 squares of 32 opaque colours (entries 0 to 31), with
/// the square of each corner at the bottom see-through where arches is set:
/// entry 40, magenta of alpha 0.
Bytes squares_texture(unsigned w, unsigned h, bool arches) {
  Bytes tex = make_tex(TexSubtype::indexed, w, h);
  for (std::size_t n = 0; n < 256; ++n)
    tex[14 + 4 * n + 3] = 255;
  const TexPaletteEntry magenta = {255, 0, 255, 0};
  std::copy(magenta.begin(), magenta.end(), tex.begin() + 14 + 4 * 40);
  const auto square = [&](unsigned x, unsigned y) {
    const bool corner = y < 8 && (x < 8 || x >= w - 8);
    return static_cast<unsigned char>(arches && corner ? 40 : (x / 8 + (y / 8) * 8) % 32);
  };
  std::size_t at = kPixels;
  for (const unsigned step : {1U, 2U, 4U}) {
    for (unsigned y = 0; y < h / step; ++y) {
      for (unsigned x = 0; x < w / step; ++x)
        tex[at++] = square(x * step, y * step);
    }
  }
  return tex;
}

}  // namespace

TEST(Skinprep, NothingEditedNothingChangedThroughEveryWayOfSavingTheImage) {
  const struct {
    const char* name;
    std::function<Bytes(const Bytes& tex, const Bytes& split)> image;
  } resaves[] = {
      {"as split", [](const Bytes&, const Bytes& split) { return split; }},
      {"24-bit",
       [](const Bytes& t, const Bytes&) {
         return make_tga_colours(64, 32, high_colours(t, false), 24, {2, 0, "", false});
       }},
      {"32-bit, run-length, top-left, image ID",
       [](const Bytes& t, const Bytes&) {
         return make_tga_colours(64, 32, high_colours(t, t[4] == 14), 32, {10, 0x20, "id", true});
       }},
      {"map reversed", [](const Bytes& t, const Bytes&) { return remapped_image(t, false, {}); }},
      {"map pruned, run-length",
       [](const Bytes& t, const Bytes&) {
         return remapped_image(t, true, {9, 0x20, "", false});
       }},
  };
  for (const TexSubtype subtype : {TexSubtype::indexed, TexSubtype::indexed_expanded}) {
    for (const auto& resave : resaves) {
      SCOPED_TRACE(std::to_string(static_cast<int>(subtype)) + ", " + resave.name);
      TempDir dir;
      const Bytes original = texture_with_duplicates(subtype, 64, 32);
      write_file(dir / "car1.tex", original);
      ASSERT_EQ(run(kSkinsplit, dir, {"car1.tex"}).exit_code, 0);
      write_file(dir / "tga" / "car1.tga",
                 resave.image(original, read_file(dir / "tga" / "car1.tga")));
      const RunResult prep = run(kSkinprep, dir, {"car1.tex"});
      ASSERT_EQ(prep.exit_code, 0) << prep.err;
      EXPECT_EQ(prep.err, "");
      EXPECT_NE(prep.out.find("no new colour\nMedium level: 512 pixels reused, 0 made\n"
                              "Low level: 128 pixels reused, 0 made\n"),
                std::string::npos)
          << prep.out;
      // Sub-type 14 splits into no palette file, so none is missed; the one
      // skinprep writes is read back the same way.
      if (subtype == TexSubtype::indexed_expanded) {
        EXPECT_EQ(prep.out.find("car1.pal...not found"), std::string::npos) << prep.out;
        fs::copy_file(dir / "car1" / "car1.pal", dir / "tga" / "car1.pal");
      }
      expect_welded(dir, prepare_and_weld(dir, "car1/"), original);  // as tab completion gives it
    }
  }
}

TEST(Skinprep, OfATgaAndAPngTheNewerIsRead) {
  TempDir dir;
  const Bytes original = texture_with_duplicates(TexSubtype::indexed, 64, 32);
  write_file(dir / "car1.tex", original);
  ASSERT_EQ(run(kSkinsplit, dir, {"car1"}).exit_code, 0);
  write_file(dir / "tga" / "car1.png", make_png(64, 32, high_colours(original, false)));
  const auto split_time = fs::last_write_time(dir / "tga" / "car1.tga");
  const struct {
    std::chrono::seconds png_later;
    const char* name;  // as given to skinprep
    const char* line;
  } rows[] = {
      {std::chrono::seconds(1), "car1",
       "Image: tga/car1.png (tga/car1.tga is older and was left aside)\n"},
      {std::chrono::seconds(-1), "car1",
       "Image: tga/car1.tga (tga/car1.png is older and was left aside)\n"},
      {std::chrono::seconds(0), "car1",
       "Image: tga/car1.tga (tga/car1.png is as old and was left aside)\n"},
      // The image a user drops on the program is the one read.
      {std::chrono::seconds(-1), "tga/car1.png",
       "Image: tga/car1.png, as named (tga/car1.tga was left aside)\n"},
  };
  for (const auto& [png_later, given, line] : rows) {
    SCOPED_TRACE(line);
    fs::last_write_time(dir / "tga" / "car1.png", split_time + png_later);
    fs::remove(dir / "car1" / "car1_source.png");  // else the same image again is up to date
    const Trip trip = prepare_and_weld(dir, given);
    EXPECT_NE(trip.prep.out.find(line), std::string::npos) << trip.prep.out;
    expect_welded(dir, trip, original);
  }
  // A picture saved in a format skinprep does not read, and newer, is named.
  write_file(dir / "tga" / "CAR1.BMP", {'B', 'M'});
  fs::last_write_time(dir / "tga" / "CAR1.BMP", split_time + std::chrono::seconds(5));
  EXPECT_EQ(run(kSkinprep, dir, {"car1"}).err,
            "WARNING! tga/CAR1.BMP is newer than tga/car1.tga, but skinprep reads only "
            "tga/car1.tga and tga/car1.png: save the edit as one of those.\n");
}

TEST(Skinprep, ARecolouredPaletteFileRecoloursAnImageLeftAsItWasSplit) {
  TempDir dir;
  const Bytes original = make_tex(TexSubtype::indexed, 16, 8);
  write_file(dir / "t.tex", original);
  ASSERT_EQ(run(kSkinsplit, dir, {"t"}).exit_code, 0);
  Bytes pal = read_file(dir / "tga" / "t.pal");
  for (std::size_t n = 0; n < 256; ++n)
    pal[24 + 4 * n] = static_cast<unsigned char>(255 - pal[24 + 4 * n]);  // every red changed
  write_file(dir / "tga" / "t.pal", pal);
  const RunResult r = run(kSkinprep, dir, {"t"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("High level: 128 pixels kept their index, 0 matched by colour"),
            std::string::npos);
  EXPECT_EQ(read_file(dir / "t" / "t.pal"), pal);
  ASSERT_EQ(run(kSkinweld, dir, {"t"}).exit_code, 0);
  const Bytes welded = read_file(dir / "t.tex");
  EXPECT_EQ(Bytes(welded.begin() + kPixels, welded.end()),
            Bytes(original.begin() + kPixels, original.end()));
  EXPECT_EQ(welded[14 + 2], 255 - original[14 + 2]);
}

TEST(Skinprep, EveryImageFormGivesThePaletteMadeFromItsColours) {
  // Colours that 5 bits a channel hold exactly, and a block of mixed colours.
  const Rgba red = {255, 0, 0, 255}, green = {0, 132, 8, 255}, blue = {16, 24, 255, 255};
  const std::vector<Rgba> picture = {red,   red,   green, green, blue, blue, red,  red,
                                     blue,  green, green, green, blue, blue, red,  red,
                                     green, green, blue,  blue,  red,  red,  blue, blue,
                                     green, green, blue,  blue,  red,  red,  blue, blue};
  // 24- and 32-bit pixels and colour maps go through the round trips above.
  // Palette entries in order of first appearance, bottom row first.
  const Bytes rgb = {255, 0, 0, 255, 0, 132, 8, 255, 16, 24, 255, 255};
  const Bytes grey = {255, 255, 255, 255, 0, 0, 0, 255, 16, 16, 16, 255};  // the red channel
  const struct {
    const char* name;
    Bytes image;
    Bytes entries;
  } forms[] = {
      {"16-bit", make_tga_colours(8, 4, picture, 16, {2, 0, "", false}), rgb},
      {"15-bit top-left", make_tga_colours(8, 4, picture, 15, {2, 0x20, "x", false}), rgb},
      {"grey run-length", make_tga_colours(8, 4, picture, 8, {11, 0, "", false}), grey},
  };
  for (const auto& form : forms) {
    SCOPED_TRACE(form.name);
    TempDir dir;
    fs::create_directory(dir / "tga");
    write_file(dir / "tga" / "t.tga", form.image);
    const RunResult r = run(kSkinprep, dir, {"t.tex"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Reference: none (no t.tex)\n"
                         "Last prepare: none (no t/t_source.png)\n"
                         "Palette: made from the image (no palette file and no texture)\n"
                         "High level: 0 pixels kept their index, 0 matched by colour, 32 took 3 "
                         "new colours (entries 0-2)\n"),
              std::string::npos)
        << r.out;
    const Bytes pal = read_file(dir / "t" / "t.pal");
    EXPECT_EQ(Bytes(pal.begin() + 24, pal.begin() + 36), form.entries);
    const Bytes high = read_file(dir / "t" / "t_h.tga");
    EXPECT_EQ(Bytes(high.end() - 32, high.end()),
              (Bytes{0, 0, 1, 1, 2, 2, 0, 0, 2, 1, 1, 1, 2, 2, 0, 0,
                     1, 1, 2, 2, 0, 0, 2, 2, 1, 1, 2, 2, 0, 0, 2, 2}));
  }
}

TEST(Skinprep, ATextureThatCannotServeIsLeftAsideWithAWord) {
  const Bytes image = make_tga8(8, 8, sample_level(8, 8, 1), sample_palette(), {});
  Bytes cut = make_tex(TexSubtype::indexed, 8, 8);
  cut.resize(1038 + 64 + 16);
  Bytes sub15 = make_tex(TexSubtype::indexed, 8, 8);
  sub15[4] = 15;
  const struct {
    Bytes tex;
    std::string word;
  } cases[] = {
      {make_tex(TexSubtype::indexed, 16, 8), "another size, 16x8"},
      {cut, "cut short"},
      {sub15, "sub-type 15"},
      {Bytes{8, 0}, "cut short"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    TempDir dir;
    fs::create_directory(dir / "tga");
    write_file(dir / "tga" / "t.tga", image);
    write_file(dir / "t.tex", c.tex);
    const RunResult r = run(kSkinprep, dir, {"t"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Checking t.tex..." + c.word + ", not used.\n"), std::string::npos);
    EXPECT_EQ(r.err, c.word == "another size, 16x8"
                         ? "WARNING! t.tex was 16 x 8 and becomes 8 x 8.\n"
                         : "");
    EXPECT_NE(r.out.find("Reference: none (t.tex not used: " + c.word +
                         ")\nLast prepare: none (no t/t_source.png)\nPalette: made from the image"),
              std::string::npos)
        << r.out;  // Run again with nothing changed: up to date, its warning given again.
    const RunResult again = run(kSkinprep, dir, {"t"});
    EXPECT_EQ(again.out, "t: up to date\n" + kPrompt);
    EXPECT_EQ(again.err, r.err);
  }
}

TEST(Skinprep, EveryRefusalIsOneLineAndWritesNothing) {
  const TexPalette palette = sample_palette();
  const Bytes good = make_tga8(8, 4, sample_level(8, 4, 1), palette);
  Bytes outside_map = good;
  put_u16le(&outside_map[5], 10);  // ten entries: indices 10 and up have no colour
  outside_map.erase(outside_map.begin() + 18 + 30, outside_map.begin() + 18 + 768);
  Bytes depth8_truecolour = good;
  depth8_truecolour[2] = 2;
  const Bytes pal = make_pal(palette);
  const Bytes png = make_png(8, 4, std::vector<Rgba>(32));
  const struct {
    const char* name;
    std::optional<Bytes> image;
    std::optional<Bytes> pal;
    std::optional<Bytes> tex;
    std::string err;
    std::optional<Bytes> png = std::nullopt;
  } cases[] = {
      {"no image",
       std::nullopt,
       {},
       {},
       "\nERROR! Could not open image tga/t.tga! : No such file or directory\n"},
      {"8-bit true colour",
       depth8_truecolour,
       {},
       {},
       "ERROR! tga/t.tga is of type 2 with 8 bits per pixel, not a TGA image skinprep takes!\n"},
      {"513 wide",
       make_tga8(513, 1, Bytes(513, 0), palette),
       {},
       {},
       "ERROR! Image exceeds maximum size!\n"},
      {"cut short",
       Bytes(good.begin(), good.end() - 1),
       {},
       {},
       "\nERROR! Tried to read past end-of-file!\n"},
      {"header cut short",
       Bytes(good.begin(), good.begin() + 17),
       {},
       {},
       "\nERROR! Could not read tga header : Success\n"},
      {"index outside the map",
       outside_map,
       {},
       {},
       "\nERROR! A pixel of tga/t.tga has index 12, which its colour map does not hold!\n"},
      {"palette file cut short",
       good,
       Bytes(pal.begin(), pal.begin() + 1000),
       {},
       "\nERROR! Tried to read past EOF!\n"},
      {"PNG 513 wide",
       std::nullopt,
       {},
       {},
       "\nERROR! Image exceeds maximum size!\n",
       make_png(513, 4, std::vector<Rgba>(2052))},
      {"PNG cut short",
       std::nullopt,
       {},
       {},
       "\nERROR! tga/t.png is not a PNG image skinprep can read: Read Error!\n",
       Bytes(png.begin(), png.end() - 24)},  // into the image data
      {"no pixels over a texture",
       make_tga8(0, 0, {}, palette),
       {},
       make_tex(TexSubtype::indexed, 8, 4),
       "\nERROR! The image has no pixels; t.tex left as it is!\n"},
      {"true-colour texture",
       good,
       {},
       make_tex(TexSubtype::truecolour32, 8, 4),
       "\nERROR! Texture has true-colour sub-type 18, which skinweld does not replace!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    fs::create_directory(dir / "tga");
    if (c.image) write_file(dir / "tga" / "t.tga", *c.image);
    if (c.png) write_file(dir / "tga" / "t.png", *c.png);
    if (c.pal) write_file(dir / "tga" / "t.pal", *c.pal);
    if (c.tex) write_file(dir / "t.tex", *c.tex);
    const std::size_t before = entries_in(dir.path());
    const RunResult r = run(kSkinprep, dir, {"t"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(entries_in(dir.path()), before);  // no directory t either
  }
  // A 0 x 0 image is no refusal: skinweld takes it.
  TempDir dir;
  fs::create_directory(dir / "tga");
  write_file(dir / "tga" / "t.tga", make_tga8(0, 0, {}, palette));
  EXPECT_EQ(run(kSkinprep, dir, {"t"}).exit_code, 0);
  EXPECT_EQ(run(kSkinweld, dir, {"t"}).exit_code, 0);
  EXPECT_EQ(read_file(dir / "t.tex").size(), 1038u);
}

TEST(Skinprep, ARepaintWithMoreColoursThanThePaletteHoldsIsReducedKeepingWhatWasKept) {
  TempDir dir;
  // A texture in 8 x 8 squares of 32 opaque colours; its right half repainted
  // with a gradient of 1,024 colours, a translucent part among them. The left
  // half keeps 16 of the squares.
  const unsigned w = 64, h = 32;
  const Bytes tex = squares_texture(w, h, false);
  write_file(dir / "t.tex", tex);
  ASSERT_EQ(run(kSkinsplit, dir, {"t"}).exit_code, 0);
  std::vector<Rgba> image = high_colours(tex, false);
  const std::vector<Rgba> repaint = repaint_colours(w, h);
  for (std::size_t k = 0; k < image.size(); ++k) {
    if (k % w >= w / 2) image[k] = repaint[k];
  }
  write_file(dir / "tga" / "t.tga", make_tga_colours(w, h, image, 32, {2, 0, "", false}));
  const RunResult r = run(kSkinprep, dir, {"t"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");  // good enough to need no warning
  EXPECT_NE(r.out.find("High level: 1040 colours, 1024 of them new, more than the 240 free entries "
                       "hold; 240 entries remade by libimagequant: "),
            std::string::npos)
      << r.out;
  ASSERT_EQ(run(kSkinweld, dir, {"t"}).exit_code, 0);
  const Bytes welded = read_file(dir / "t.tex");

  double error = 0;
  for (std::size_t k = 0; k < image.size(); ++k) {
    const Rgba got = tex_shown_colour(welded, welded[kPixels + k]);
    if (k % w < w / 2) {
      ASSERT_EQ(welded[kPixels + k], tex[kPixels + k]) << k;  // kept: same index, same colour
      ASSERT_EQ(got, image[k]) << k;
      continue;
    }
    for (std::size_t ch = 0; ch < 3 && image[k][3] != 0; ++ch)
      error += std::abs(got[ch] - image[k][ch]);
    // The alpha stays where the image had it: exactly, where it was 0 or 255.
    if (image[k][3] == 0 || image[k][3] == 255) {
      EXPECT_EQ(got[3], image[k][3]) << k;
      continue;
    }
    EXPECT_NEAR(got[3], 96, 8) << k;
  }
  error /= 3.0 * image.size() / 2;
  EXPECT_LT(error, 4.0);
  // Medium pixels of unchanged blocks whose entries kept their colours are reused.
  for (std::size_t m = 0; m < (w / 2) * (h / 2); ++m) {
    if (m % (w / 2) < w / 4) {
      ASSERT_EQ(welded[kPixels + w * h + m], tex[kPixels + w * h + m]) << m;
    }
  }
}

TEST(Skinprep, AlphaTheUserCouldNotSeeIsNeitherTakenForAnEditNorLostUnseen) {
  // An opaque texture (entry 3) with a translucent window (entry 7, alpha 96)
  // in its right half.
  Bytes tex = make_tex(TexSubtype::indexed, 8, 4);
  for (std::size_t n = 0; n < 256; ++n)
    tex[14 + 4 * n + 3] = n == 7 ? 96 : 255;
  for (std::size_t k = 0; k < 32 + 8 + 2; ++k) {
    const std::size_t width = k < 32 ? 8 : k < 40 ? 4 : 2;
    const std::size_t at = k < 32 ? k : k < 40 ? k - 32 : k - 40;
    tex[kPixels + k] = at % width >= width / 2 ? 7 : 3;
  }
  const Bytes indices(tex.begin() + kPixels, tex.begin() + kPixels + 32);
  TexPalette palette{};
  std::copy_n(tex.begin() + 14, 1024, &palette[0][0]);
  // Saved as RGBA: every pixel alpha 255, then a translucent logo at (0, 0).
  std::vector<Rgba> rgba = high_colours(tex, false);
  rgba[0] = {9, 9, 9, 128};
  // Indexed with a 32-bit map holding the palette, entry 3's alpha edited to 200.
  Bytes map32 = make_tga8(8, 4, indices, palette);
  map32[7] = 32;
  map32.erase(map32.begin() + 18, map32.begin() + 18 + 768);
  palette[3][3] = 200;
  map32.insert(map32.begin() + 18, &palette[0][0], &palette[0][0] + 1024);
  // Painted in indexed mode: two opaque pixels snapped to the window's entry.
  Bytes holes = indices;
  holes[0] = holes[1] = 7;
  const auto alpha_of = [](const Bytes& pal, unsigned char entry) {
    return pal[24 + 4 * entry + 3];
  };
  const struct {
    const char* name;
    Bytes image;
    std::string out;
    std::string err;
    std::function<unsigned(std::size_t k, unsigned was)> alpha;  // wanted at pixel k
  } rows[] = {
      {"alpha channel added, logo pasted", make_tga_colours(8, 4, rgba, 32, {2, 0, "", false}),
       "Alpha: the texture's where the image is opaque, the image's where it is translucent", "",
       [](std::size_t k, unsigned was) { return k == 0 ? 128 : was; }},
      {"32-bit map with an alpha edited", map32, "Alpha: the image's own\n", "",
       [](std::size_t, unsigned was) { return was == 255 ? 200 : was; }},
      {"indexed edit onto the window", make_tga8(8, 4, holes, palette),
       "High level: 30 pixels kept their index, 2 took the image's own index",
       "WARNING! 2 pixels that are opaque in t.tex come out see-through (entries 7); the image "
       "has no alpha to show them.\n",
       [](std::size_t k, unsigned was) { return k < 2 ? 96 : was; }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    fs::create_directory(dir / "tga");
    write_file(dir / "t.tex", tex);
    write_file(dir / "tga" / "t.tga", row.image);
    const RunResult r = run(kSkinprep, dir, {"t"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
    EXPECT_EQ(r.err, row.err);
    const Bytes high = read_file(dir / "t" / "t_h.tga");
    const Bytes pal = read_file(dir / "t" / "t.pal");
    for (std::size_t k = 0; k < 32; ++k)
      EXPECT_EQ(alpha_of(pal, high[786 + k]), row.alpha(k, tex[14 + 4 * indices[k] + 3])) << k;
  }
}

TEST(Skinprep, ALoopRunAgainStartsFromWhatTheLastRunLeft) {
  TempDir dir;
  const unsigned w = 64, h = 32;
  const Bytes tex = squares_texture(w, h, true);
  write_file(dir / "car1.tex", tex);
  ASSERT_EQ(run(kSkinsplit, dir, {"car1"}).exit_code, 0);
  // Saved in RGB, as paint programs do: one pixel of a new colour takes a
  // free entry, said in the singular.
  std::vector<Rgba> image = high_colours(tex, false);
  image[200] = {1, 2, 3, 255};
  write_file(dir / "tga" / "car1.tga", make_tga_colours(w, h, image, 24, {2, 0, "", false}));
  EXPECT_NE(run(kSkinprep, dir, {"car1"}).out.find("took 1 new colour (entry "), std::string::npos);
  // The right half repainted with more colours than the palette has room
  // for: the palette is made anew, the arches stay see-through, and the loop
  // run again with nothing changed gives the same texture without a word.
  const std::vector<Rgba> repaint = repaint_colours(w, h);
  for (std::size_t k = 0; k < image.size(); ++k) {
    if (k % w >= w / 2 && k / w >= 8) image[k] = {repaint[k][0], repaint[k][1], repaint[k][2], 255};
  }
  const Bytes saved = make_tga_colours(w, h, image, 24, {2, 0, "", false});
  write_file(dir / "tga" / "car1.tga", saved);
  EXPECT_NE(prepare_and_weld(dir, "car1").prep.out.find("entries remade by libimagequant"),
            std::string::npos);
  const Bytes welded = read_file(dir / "car1.tex");
  const auto made = fs::last_write_time(dir / "car1" / "car1_h.tga");
  const Trip again = prepare_and_weld(dir, "car1");
  EXPECT_EQ(again.prep.out, "car1: up to date\n" + kPrompt);
  expect_welded(dir, again, welded);
  EXPECT_EQ(fs::last_write_time(dir / "car1" / "car1_h.tga"), made);
  // Without its page the set is not what skinprep wrote: prepared anew, to
  // the same levels, the palette file of the first texture left aside.
  fs::remove(dir / "car1" / "car1_preview.html");
  const Trip anew = prepare_and_weld(dir, "car1");
  EXPECT_NE(anew.prep.out.find("Last prepare: car1/car1_source.png, no pixel changed since\n"
                               "Palette: from car1.tex (tga/car1.pal, unchanged since the last "
                               "prepare, is not the texture's palette any more and was left "
                               "aside)\nHigh level: 2048 pixels kept their index"),
            std::string::npos)
      << anew.prep.out;
  expect_welded(dir, anew, welded);
  EXPECT_EQ(fs::last_write_time(dir / "car1" / "car1_h.tga"), made);
  for (const std::size_t k : {0U, 7U, 56U, 63U, 7U * 64 + 60})
    EXPECT_EQ(tex_shown_colour(welded, welded[kPixels + k]), (Rgba{255, 0, 255, 0})) << k;
  // Saved again unchanged, and newer: skinweld has nothing to warn of. A
  // recoloured palette file it tells of; skinprep then takes it.
  write_file(dir / "tga" / "car1.tga", saved);
  fs::last_write_time(dir / "tga" / "car1.tga", made + std::chrono::seconds(5));
  EXPECT_EQ(run(kSkinweld, dir, {"car1"}).err, "");
  Bytes pal = read_file(dir / "tga" / "car1.pal");
  pal[24 + 4 * 3] ^= 0xff;
  write_file(dir / "tga" / "car1.pal", pal);
  EXPECT_EQ(run(kSkinweld, dir, {"car1"}).err,
            "WARNING! tga/car1.pal has changed since it was prepared: the edit is not in this "
            "texture; run skinprep car1 first.\n");
  EXPECT_NE(run(kSkinprep, dir, {"car1"}).out.find("Palette: from tga/car1.pal\n"),
            std::string::npos);
  // A level made by hand is kept before it is replaced; files skinprep made
  // and nobody touched never are, however often the loop runs.
  write_file(dir / "car1" / "car1_m.tga", {'h', 'a', 'n', 'd'});
  EXPECT_NE(run(kSkinprep, dir, {"car1"})
                .out.find("Keeping the old car1/car1_m.tga as car1/car1_m~1.tga\n"),
            std::string::npos);
  for (int loop = 0; loop < 3; ++loop)
    prepare_and_weld(dir, "car1");
  EXPECT_EQ(entries_in(dir / "car1"), 7u);  // the set, its memory, its preview, the one kept
  EXPECT_EQ(entries_in(dir / "tga"), 3u);   // the picture, the palette file, skinsplit's sums
}

TEST(Skinprep, UpToDateIsOneCompareByContentAndAnyDifferenceTakesTheFullPath) {
  using Change = std::function<void(const TempDir&)>;
  const auto flip = [](const fs::path& file, std::size_t from_end) {
    Bytes bytes = read_file(file);
    bytes[bytes.size() - from_end] ^= 1;
    write_file(file, bytes);
  };
  const struct {
    const char* name;
    Change change;
    std::vector<std::string> args;
    bool up_to_date;
  } rows[] = {
      {"nothing", [](const TempDir&) {}, {"car1"}, true},
      {"the image saved again, the same bytes and newer",
       [](const TempDir& dir) {
         write_file(dir / "tga" / "car1.tga", read_file(dir / "tga" / "car1.tga"));
         fs::last_write_time(
             dir / "tga" / "car1.tga",
             fs::last_write_time(dir / "car1" / "car1_h.tga") + std::chrono::hours(1));
       },
       {"car1"},
       true},
      {"the texture welded from the set",
       [](const TempDir& dir) { ASSERT_EQ(run(kSkinweld, dir, {"car1"}).exit_code, 0); },
       {"car1"},
       true},
      {"one pixel of the image",
       [&](const TempDir& dir) { flip(dir / "tga" / "car1.tga", 1); },
       {"car1"},
       false},
      {"the palette file",
       [&](const TempDir& dir) { flip(dir / "tga" / "car1.pal", 40); },
       {"car1"},
       false},
      {"the TEX file", [&](const TempDir& dir) { flip(dir / "car1.tex", 1); }, {"car1"}, false},
      {"another palette option", [](const TempDir&) {}, {"--keep-palette", "car1"}, false},
      {"a level",
       [&](const TempDir& dir) { flip(dir / "car1" / "car1_l.tga", 1); },
       {"car1"},
       false},
      {"the memory's pixels",
       [&](const TempDir& dir) { flip(dir / "car1" / "car1_source.png", 20); },
       {"car1"},
       false},
      {"the page",
       [&](const TempDir& dir) { flip(dir / "car1" / "car1_preview.html", 2); },
       {"car1"},
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    write_file(dir / "car1.tex", squares_texture(64, 32, true));
    ASSERT_EQ(run(kSkinsplit, dir, {"car1"}).exit_code, 0);
    ASSERT_EQ(run(kSkinprep, dir, {"car1"}).exit_code, 0);
    row.change(dir);
    std::vector<std::pair<fs::path, fs::file_time_type>> written;
    for (const auto& entry : fs::directory_iterator(dir / "car1"))
      written.emplace_back(entry.path(), entry.last_write_time());
    const RunResult r = run(kSkinprep, dir, row.args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    if (!row.up_to_date) {
      EXPECT_NE(r.out.find("\nPreview: car1/car1_preview.html\n"), std::string::npos) << r.out;
      continue;
    }
    EXPECT_EQ(r.out, "car1: up to date\n" + kPrompt);
    EXPECT_EQ(entries_in(dir / "car1"), written.size());
    for (const auto& [file, time] : written)
      EXPECT_EQ(fs::last_write_time(file), time) << file;
  }
}

TEST(Skinprep, WhatTheUserSeesIsWhatGetsWeldedRunAfterRun) {
  TempDir dir;
  const unsigned w = 64, h = 32;
  const Bytes tex = squares_texture(w, h, true);
  write_file(dir / "car1.tex", tex);
  ASSERT_EQ(run(kSkinsplit, dir, {"car1"}).exit_code, 0);
  expect_welded(dir, prepare_and_weld(dir, "car1"), tex);
  // An edit of alpha alone, after a prepare: the block becomes see-through.
  std::vector<Rgba> image = high_colours(tex, true);
  for (std::size_t k = 8 * w + 20; k < 8 * w + 30; ++k)
    image[k][3] = 0;
  write_file(dir / "tga" / "car1.png", make_png(w, h, image));
  const Trip alpha = prepare_and_weld(dir, "car1");
  EXPECT_NE(alpha.prep.out.find("10 pixels changed since"), std::string::npos) << alpha.prep.out;
  const Bytes welded = read_file(dir / "car1.tex");
  for (std::size_t k = 8 * w + 20; k < 8 * w + 30; ++k)
    EXPECT_EQ(tex_shown_colour(welded, welded[kPixels + k])[3], 0) << k;
  // A split again by accident leaves an edit in progress as it is, and
  // skinweld then sends nobody anywhere; one that is in the texture already
  // it leaves too, without a word.
  image[0] = {1, 2, 3, 255};
  write_file(dir / "tga" / "car1.png", make_png(w, h, image));
  const RunResult again = run(kSkinsplit, dir, {"car1"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find("tga/car1.png holds an edit"), std::string::npos) << again.err;
  EXPECT_EQ(run(kSkinweld, dir, {"car1"}).err,
            "WARNING! tga/car1.png has changed since it was prepared: the edit is not in this "
            "texture; run skinprep car1 first.\n");
  ASSERT_EQ(prepare_and_weld(dir, "car1").weld.exit_code, 0);
  EXPECT_EQ(run(kSkinsplit, dir, {"car1"}).exit_code, 0);
  EXPECT_TRUE(fs::exists(dir / "tga" / "car1.png"));
  EXPECT_EQ(run(kSkinweld, dir, {"car1"}).err, "");
  EXPECT_NE(run(kSkinprep, dir, {"car1"}).out.find("no pixel changed since"), std::string::npos);
  // A level saved again with the same pixels (top row first) is no edit; a
  // level changed by hand is told of.
  Bytes high = read_file(dir / "car1" / "car1_h.tga");
  Bytes top_first = high;
  top_first[17] |= 0x20;
  for (unsigned y = 0; y < h; ++y)
    std::copy_n(&high[786 + (h - 1 - y) * w], w, &top_first[786 + y * w]);
  write_file(dir / "car1" / "car1_h.tga", top_first);
  EXPECT_EQ(run(kSkinweld, dir, {"car1"}).err, "");
  high[786] ^= 1;
  write_file(dir / "car1" / "car1_h.tga", high);
  EXPECT_EQ(run(kSkinweld, dir, {"car1"}).err,
            "WARNING! car1/car1_h.tga is not the level skinprep wrote; the other levels were made "
            "from the one it wrote.\n");
  // A repaint of more colours than the palette holds, prepared: the texture
  // shows it reduced. Split anew by force, the repaint is kept, and an edit
  // of the new picture is told of with the file the texture was made from.
  const std::vector<Rgba> repaint = repaint_colours(w, h);
  for (std::size_t k = w * h / 2; k < image.size(); ++k)
    image[k] = repaint[k];
  write_file(dir / "tga" / "car1.png", make_png(w, h, image));
  ASSERT_EQ(prepare_and_weld(dir, "car1").weld.exit_code, 0);
  EXPECT_EQ(run(kSkinsplit, dir, {"car1"}).exit_code, 1);
  EXPECT_EQ(run(kSkinsplit, dir, {"--force", "car1"}).exit_code, 0);
  EXPECT_TRUE(fs::exists(dir / "tga" / "car1~1.png"));
  EXPECT_EQ(run(kSkinweld, dir, {"car1"}).err, "");
  std::vector<Rgba> painted = high_colours(read_file(dir / "car1.tex"), false);
  painted[3] = {1, 2, 3, 255};
  write_file(dir / "tga" / "car1.tga", make_tga_colours(w, h, painted, 24, {2, 0, "", false}));
  EXPECT_EQ(run(kSkinweld, dir, {"car1"}).err,
            "WARNING! This texture holds the edit in tga/car1~1.png, which tga/car1.tga took the "
            "place of; tga/car1.tga is not in it.\n");
  // A picture of another size: the whole texture replaced is kept.
  write_file(
      dir / "tga" / "car1.tga",
      make_tga_colours(32, 16, std::vector<Rgba>(512, {5, 6, 7, 255}), 24, {2, 0, "", false}));
  ASSERT_EQ(run(kSkinprep, dir, {"car1"}).exit_code, 0);
  const RunResult smaller = run(kSkinweld, dir, {"car1"});
  EXPECT_NE(smaller.out.find("Keeping the old car1.tex as car1~1.tex\n"), std::string::npos);
  EXPECT_EQ(read_file(dir / "car1~1.tex").size(), welded.size());
}

TEST(Skinprep, ABatchInAQuietFolderFindsEveryTexturesPictureFromOneListing) {
  // tga/ left alone for more than two seconds: skinprep and skinweld then
  // list it once for the whole batch, and each texture still finds its own
  // files, in any case, and a later save.
  TempDir dir;
  const Bytes tex = squares_texture(64, 32, true);
  for (const char* name : {"a.tex", "b.tex"})
    write_file(dir / name, tex);
  ASSERT_EQ(run(kSkinsplit, dir, {"a", "b"}).exit_code, 0);
  std::vector<Rgba> image = high_colours(tex, false);
  image[300] = {1, 2, 3, 255};
  fs::remove(dir / "tga" / "b.tga");
  write_file(dir / "tga" / "B.PNG", make_png(64, 32, image));
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  const RunResult prep = run(kSkinprep, dir, {"a", "b"});
  EXPECT_NE(prep.out.find("Image: tga/B.PNG\n"), std::string::npos) << prep.out;
  ASSERT_EQ(run(kSkinweld, dir, {"a", "b"}).exit_code, 0);
  EXPECT_EQ(read_file(dir / "a.tex"), tex);
  EXPECT_EQ(tex_shown_colour(read_file(dir / "b.tex"), read_file(dir / "b.tex")[kPixels + 300]),
            (Rgba{1, 2, 3, 255}));
}

TEST(Skinprep, ATextureShippedInCapitalsIsPreparedAndWeldedInPlace) {
  TempDir dir;
  const Bytes tex = texture_with_duplicates(TexSubtype::indexed, 64, 32);
  write_file(dir / "CAR5.TEX", tex);
  ASSERT_EQ(run(kSkinsplit, dir, {"car5"}).exit_code, 0);
  const RunResult prep = run(kSkinprep, dir, {"CAR5.TEX"});
  EXPECT_NE(prep.out.find("Reference: CAR5.TEX, sub-type 1\n"), std::string::npos) << prep.out;
  const RunResult weld = run(kSkinweld, dir, {"car5"});
  EXPECT_NE(weld.out.find("Checking CAR5.TEX...Writing CAR5.TEX...\n"), std::string::npos);
  EXPECT_EQ(read_file(dir / "CAR5.TEX"), tex);
  EXPECT_EQ(entries_in(dir.path()), 3u);  // CAR5.TEX, tga and CAR5: no second texture
  // Named in the other case, it finds the same set, memory and page.
  const RunResult again = run(kSkinprep, dir, {"car5"});
  EXPECT_EQ(again.out, "car5: up to date\n" + kPrompt);
  EXPECT_EQ(entries_in(dir / "CAR5"), 6u);
}

TEST(Skinprep, WhatThePaletteBecomesIsTheUsersChoice) {
  // The squares texture with see-through arches, its right half repainted
  // with far more colours than there is room for.
  const unsigned w = 64, h = 32;
  const Bytes tex = squares_texture(w, h, true);
  std::vector<Rgba> image = high_colours(tex, true);
  const std::vector<Rgba> repaint = repaint_colours(w, h);
  for (std::size_t k = 0; k < image.size(); ++k) {
    if (k % w >= w / 2 && k / w >= 8) image[k] = repaint[k];
  }
  const struct {
    const char* option;
    const char* line;
    bool untouched_kept;  // every pixel of the left half keeps index and colour
  } rows[] = {
      {"--keep-palette", "palette kept: 768 new colours at their nearest entries", true},
      {"--new-palette", "entries remade by libimagequant", false},
      {nullptr, "untouched pixel", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.option != nullptr ? row.option : "choice");
    TempDir dir;
    write_file(dir / "car1.tex", tex);
    fs::create_directory(dir / "tga");
    write_file(dir / "tga" / "car1.tga", make_tga_colours(w, h, image, 32, {2, 0, "", false}));
    std::vector<std::string> args = {"car1"};
    if (row.option != nullptr) args.insert(args.begin(), row.option);
    const RunResult r = run(kSkinprep, dir, args);
    EXPECT_NE(r.out.find(row.line), std::string::npos) << r.out;
    ASSERT_EQ(run(kSkinweld, dir, {"car1"}).exit_code, 0);
    const Bytes welded = read_file(dir / "car1.tex");
    std::size_t changed = 0;
    for (std::size_t k = 0; k < image.size(); ++k) {
      const Rgba got = tex_shown_colour(welded, welded[kPixels + k]);
      if (image[k] == Rgba{255, 0, 255, 0}) {
        ASSERT_EQ(got, image[k]) << k;  // a see-through colour keeps its colour
      }
      if (k % w < w / 2) changed += welded[kPixels + k] != tex[kPixels + k] || got != image[k];
    }
    EXPECT_EQ(changed == 0, row.untouched_kept) << changed;
  }
}

namespace {

std::string page_of(const TempDir& dir) {
  const Bytes bytes = read_file(dir / "t" / "t_preview.html");
  return {bytes.begin(), bytes.end()};
}

/// Checks that the page's panels show the welded texture, and the texture
/// it replaced with every changed pixel marked by what became of it.
void expect_panels_show(const std::string& html, const Bytes& welded, const Bytes& old,
                        const std::set<std::size_t>& painted) {
  unsigned width = 0;
  unsigned height = 0;
  const char* levels[] = {"after", "medium", "low"};
  for (std::size_t n = 0; n < 3; ++n) {
    SCOPED_TRACE(levels[n]);
    const std::vector<Rgba> panel = preview_panel(html, levels[n], width, height);
    EXPECT_EQ(panel, tex_level_colours(welded, n));
  }
  const std::vector<Rgba> before = tex_level_colours(old, 0);
  const std::vector<Rgba> after = tex_level_colours(welded, 0);
  EXPECT_EQ(preview_panel(html, "before", width, height), before);
  const std::vector<Rgba> changed = preview_panel(html, "changed", width, height);
  ASSERT_EQ(changed.size(), after.size());
  for (std::size_t k = 0; k < after.size(); ++k) {
    SCOPED_TRACE(k);
    const std::set<Rgba> marks = {kChangedColour, kMovedColour, kBecameClear, kBecameOpaque,
                                  kAlphaChanged};
    if (before[k] == after[k]) {
      EXPECT_EQ(marks.count(changed[k]), 0u);
    } else if (after[k][3] == 0) {
      EXPECT_EQ(changed[k], kBecameClear);
    } else if (after[k][3] == 255 && before[k][3] != 255) {
      EXPECT_EQ(changed[k], kBecameOpaque);
    } else if (after[k][3] != before[k][3]) {
      EXPECT_EQ(changed[k], kAlphaChanged);
    } else {
      EXPECT_EQ(changed[k], painted.count(k) != 0 ? kChangedColour : kMovedColour);
    }
  }
}

}  // namespace

TEST(Skinprep, ThePreviewShowsWhatWillBeWeldedAndWhatChanged) {
  TempDir dir;
  // Entry 51 of the sample palette is see-through, entry 102 opaque, the
  // rest translucent.
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 16, 8));
  ASSERT_EQ(run(kSkinsplit, dir, {"t"}).exit_code, 0);
  std::vector<Rgba> picture = colours_of_level(sample_level(16, 8, 1));
  picture[5] = {1, 2, 3, 255};  // another colour
  picture[9] = {9, 9, 9, 0};    // see-through now
  const Rgba visible = {200, 100, 50, 255};
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const Bytes old = read_file(dir / "t.tex");
    write_file(dir / "tga" / "t.tga", make_tga_colours(16, 8, picture, 32, {2, 0, "", false}));
    const RunResult prep = run(kSkinprep, dir, {"t"});
    ASSERT_EQ(run(kSkinweld, dir, {"t"}).exit_code, 0);
    ASSERT_NE(prep.out.find("\nPreview: t/t_preview.html\n"), std::string::npos);
    expect_panels_show(page_of(dir), read_file(dir / "t.tex"), old, {5, 9});
    picture[9] = visible;  // and visible again, the next time round
  }
  // Without a texture there is nothing before: "after" alone.
  fs::remove(dir / "t.tex");
  ASSERT_EQ(run(kSkinprep, dir, {"t"}).exit_code, 0);
  const std::string html = page_of(dir);
  unsigned width = 0;
  unsigned height = 0;
  EXPECT_EQ(preview_panel(html, "after", width, height).size(), 16u * 8);
  EXPECT_TRUE(preview_panel(html, "before", width, height).empty());
  EXPECT_TRUE(preview_panel(html, "changed", width, height).empty());
  // A texture larger than skinsplit reads shows at 1x, to fit a window
  // beside what changed.
  write_file(dir / "tga" / "t.tga",
             make_tga8(512, 512, sample_level(512, 512, 1), sample_palette()));
  ASSERT_EQ(run(kSkinprep, dir, {"t"}).exit_code, 0);
  EXPECT_NE(page_of(dir).find(R"(<h2>After (1x)</h2>)"), std::string::npos);
  EXPECT_NE(page_of(dir).find(R"(data-panel="after" width="512" height="512")"), std::string::npos);
}
