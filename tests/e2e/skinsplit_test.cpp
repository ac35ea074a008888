#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "formats/tex_tga.h"
#include "support/samples.h"
#include "support/streams.h"
#include "support/tools.h"

namespace fs = std::filesystem;

namespace {

RunResult split(const TempDir& dir, const std::vector<std::string>& args,
                const RunOptions& options = {}) {
  return run_tool(kSkinsplit, args, dir.path(), options);
}

/// The TGA image a TEX file must become, worked out from the TEX bytes alone.
Bytes expected_tga(const Bytes& tex) {
  const unsigned x = get_u16le(&tex[0]);
  const unsigned y = get_u16le(&tex[2]);
  const unsigned subtype = tex[4];
  const std::size_t pixels = std::size_t{x} * y;
  Bytes out(18, 0);
  put_u16le(&out[12], static_cast<std::uint16_t>(x));
  put_u16le(&out[14], static_cast<std::uint16_t>(y));
  const unsigned char* palette = &tex[14];
  if (subtype == 1) {
    out[1] = 1, out[2] = 1, out[6] = 1, out[7] = 24, out[16] = 8;
    for (int n = 0; n < 256; ++n)
      out.insert(out.end(), palette + 4 * n, palette + 4 * n + 3);
    out.insert(out.end(), tex.begin() + 1038, tex.begin() + 1038 + static_cast<long>(pixels));
  } else if (subtype == 14) {
    out[2] = 2, out[16] = 32;
    for (std::size_t i = 0; i < pixels; ++i) {
      const unsigned char* e = palette + 4 * tex[1038 + i];
      out.insert(out.end(), {e[2], e[1], e[0], e[3]});
    }
  } else {
    const std::size_t size = subtype == 17 ? 3 : 4;
    out[2] = 2, out[16] = static_cast<unsigned char>(8 * size);
    for (std::size_t i = 0; i < pixels; ++i) {
      const unsigned char* s = &tex[14 + size * i];
      out.insert(out.end(), {s[2], s[1], s[0]});
      if (size == 4) out.push_back(s[3]);
    }
  }
  return out;
}

/// The palette file a sub-type 1 TEX file must give: red and blue swapped.
Bytes expected_pal(const Bytes& tex) {
  TexPalette palette;
  for (int n = 0; n < 256; ++n) {
    for (int b = 0; b < 4; ++b)
      palette[n][b] = tex[14 + 4 * n + b];
  }
  return make_pal(palette);
}

std::string transcript_indexed(const std::string& base, std::size_t length, unsigned x,
                               unsigned y) {
  return "Opening " + base + ".tex...\nProcessing " + std::to_string(length) +
         " bytes\nDimensions of main image = " + std::to_string(x) + "x" + std::to_string(y) +
         "\nReading data for palette...\nReading data for high quality image...\n"
         "Checking for sub directory creation\nCreating subdirectory tga\n"
         "Saving palette " +
         base +
         ".pal...writing header...writing palette in RGBA format...done!\n"
         "Saving image " +
         base + ".tga...writing header...writing palette...writing data...done!\n";
}

}  // namespace

TEST(Skinsplit, EverySubtypeGivesExactlyTheExpectedFiles) {
  TempDir dir;
  const struct {
    TexSubtype subtype;
    unsigned x, y;
  } cases[] = {{TexSubtype::indexed, 6, 4},       {TexSubtype::indexed_expanded, 5, 3},
               {TexSubtype::truecolour24, 3, 7},  {TexSubtype::truecolour32, 8, 2},
               {TexSubtype::indexed, 256, 256},   {TexSubtype::indexed, 0, 9},
               {TexSubtype::truecolour24, 256, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.subtype)) + ": " + std::to_string(c.x) + "x" +
                 std::to_string(c.y));
    const Bytes tex = make_tex(c.subtype, c.x, c.y);
    write_file(dir / "t.tex", tex);
    const RunResult r = split(dir, {"t.tex"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(first_difference(read_file(dir / "tga" / "t.tga"), expected_tga(tex)), -1);
    if (c.subtype == TexSubtype::indexed) {
      EXPECT_EQ(r.out, transcript_indexed("t", tex.size(), c.x, c.y) + kPrompt);
      EXPECT_EQ(read_file(dir / "tga" / "t.pal"), expected_pal(tex));
    } else {
      EXPECT_FALSE(fs::exists(dir / "tga" / "t.pal"));
    }
    // With --png, tga/t.png instead, and the TGA just written is gone: for
    // sub-type 1 the texture's indices with its palette and every entry's
    // alpha, else the colours the texture shows.
    const RunResult png = split(dir, {"--png", "t.tex"});
    if (c.x == 0 || c.y == 0) {
      EXPECT_EQ(png.err,
                "ERROR! A picture of no pixels cannot be a PNG image; split t without "
                "--png!\n");
      fs::remove_all(dir / "tga");
      continue;
    }
    EXPECT_EQ(png.err, "");
    EXPECT_FALSE(fs::exists(dir / "tga" / "t.tga"));
    unsigned w = 0, h = 0;
    std::vector<unsigned char> indices;
    ColourMap map;
    const std::vector<Rgba> shown =
        png_colours(read_file(dir / "tga" / "t.png"), w, h, &indices, &map);
    ASSERT_EQ(std::pair(w, h), std::pair(c.x, c.y));
    const bool paletted = tex_is_paletted(c.subtype);
    TexPalette palette{};
    for (std::size_t n = 0; paletted && n < palette.size(); ++n)
      std::copy_n(tex.begin() + 14 + 4 * static_cast<long>(n), 4, palette[n].begin());
    const std::span<const unsigned char> stored(tex.data() + (paletted ? 1038 : 14),
                                                tex.size() - (paletted ? 1038 : 14));
    for (std::size_t k = 0; k < shown.size(); ++k)
      ASSERT_EQ(shown[k], tex_pixel_colour(c.subtype, stored, k, palette)) << k;
    if (c.subtype == TexSubtype::indexed) {
      EXPECT_TRUE(std::equal(indices.begin(), indices.end(), stored.begin()));
      for (std::size_t n = 0; n < palette.size(); ++n)
        EXPECT_EQ(map.colour[n], tex_entry_colour(palette[n], false)) << n;
      EXPECT_EQ(read_file(dir / "tga" / "t.pal"), expected_pal(tex));
    } else {
      EXPECT_TRUE(indices.empty());
    }
    fs::remove_all(dir / "tga");
  }
}

TEST(Skinsplit, RefusedTexturesGetOneMessageAndWriteNothing) {
  TempDir dir;
  Bytes big = make_tex(TexSubtype::indexed, 4, 4);
  big[0] = 0x01, big[1] = 0x01;  // X = 257
  Bytes unsupported = make_tex(TexSubtype::indexed, 4, 4);
  unsupported[4] = 15;
  Bytes short17 = make_tex(TexSubtype::truecolour24, 64, 64);
  short17.resize(tex_written_length(64, 64));  // long enough for the check, not for 3 bytes a pixel
  const Bytes full = make_tex(TexSubtype::indexed, 256, 256);
  const struct {
    const char* name;
    Bytes file;
    std::string out_tail;
    std::string err;
  } cases[] = {
      {"big", big, "Dimensions of main image = 257x4\n", "ERROR! Image exeeds maximum size!\n"},
      {"cut", Bytes(full.begin(), full.begin() + 87053), "Dimensions of main image = 256x256\n",
       "ERROR! Invalid input file, too short!\n"},
      {"sub15", unsupported, "Dimensions of main image = 4x4\n",
       "\n\nERROR!  Unsupported TEX subtype - 15\n\n"},
      {"short17", short17, "Reading data for high quality image...\n",
       "ERROR! Tried to read past end-of-file!\n"},
      {"onebyte", Bytes{7}, "Processing 1 bytes\n",
       "ERROR! Could not determine X size of input file! : Success\n"},
      {"threebytes", Bytes{7, 0, 7}, "Processing 3 bytes\n",
       "ERROR! Could not determine Y size of input file! : Success\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir / (std::string(c.name) + ".tex"), c.file);
    const RunResult r = split(dir, {c.name});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "Opening " + std::string(c.name) + ".tex...\nProcessing " +
                         std::to_string(c.file.size()) + r.out.substr(r.out.find(" bytes\n")));
    EXPECT_EQ(r.out.substr(r.out.size() - kPrompt.size() - c.out_tail.size()),
              c.out_tail + kPrompt);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(fs::exists(dir / "tga"));
  }
  write_file(dir / "ok.tex", full);  // exactly the minimum length
  EXPECT_EQ(split(dir, {"ok"}).exit_code, 0);
  const RunResult missing = split(dir, {"absent.tex"});
  EXPECT_EQ(missing.out, "Opening absent.tex...file not found!\n" + kPrompt);
  EXPECT_EQ(missing.err, "");
}

TEST(Skinsplit, ArgumentsAreResolvedByDirectoryBaseNameAndExtension) {
  TempDir dir;
  fs::create_directories(dir / "skins" / "set");
  const Bytes tex = make_tex(TexSubtype::indexed, 8, 8);
  write_file(dir / "a.tex", tex);
  write_file(dir / "b.tex", tex);
  write_file(dir / "my.car.tex", tex);
  write_file(dir / "skins" / "set" / "c.tex", tex);
  // Any extension or none opens NAME.tex; only the last dot counts; every
  // argument starts from where the tool started.
  const RunResult r =
      split(dir, {"a", "b.bmp", "my.car.old", "skins/set/c.tex", "./a.TEX", "b.tex/", "a//"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  for (const fs::path& out :
       {dir / "tga" / "a.tga", dir / "tga" / "b.tga", dir / "tga" / "my.car.tga",
        dir / "skins" / "set" / "tga" / "c.tga"}) {
    EXPECT_EQ(read_file(out), expected_tga(tex)) << out;
  }

  // A texture shipped in capitals is found as it is named, in any case; two
  // that differ only in case are refused, both named.
  fs::create_directory(dir / "caps");
  write_file(dir / "caps" / "CAR5.TEX", tex);
  const RunResult caps = split(dir, {"caps/car5.tex"});
  EXPECT_NE(caps.out.find("Opening CAR5.TEX..."), std::string::npos) << caps.out;
  EXPECT_EQ(read_file(dir / "caps" / "tga" / "car5.tga"), expected_tga(tex));
  write_file(dir / "caps" / "Car5.Tex", tex);
  const RunResult both = split(dir, {"caps/car5"});
  EXPECT_EQ(both.exit_code, 1);
  EXPECT_TRUE(
      both.err == "ERROR! Both CAR5.TEX and Car5.Tex could be car5.tex; rename one of them!\n" ||
      both.err == "ERROR! Both Car5.Tex and CAR5.TEX could be car5.tex; rename one of them!\n")
      << both.err;

  const RunResult no_dir = split(dir, {"nowhere/a.tex", "a.tex"});
  EXPECT_EQ(no_dir.exit_code, 1);
  EXPECT_EQ(no_dir.err,
            "ERROR! Could not change to texture directory! : No such file or directory\n");
  EXPECT_EQ(no_dir.out.substr(0, 15), "Opening a.tex..");
}

TEST(Skinsplit, AReSplitKeepsWhatWasEditedAndReplacesWhatWasNot) {
  TempDir dir;
  fs::create_directory(dir / "tga");
  write_file(dir / "tga" / "t.tga", {'o', 'l', 'd'});
  write_file(dir / "tga" / "t.pal", {'o', 'l', 'd'});
  fs::permissions(dir / "tga" / "t.tga", fs::perms::owner_read | fs::perms::owner_write);
  const Bytes tex = make_tex(TexSubtype::indexed, 4, 8);
  write_file(dir / "t.tex", tex);
  write_file(dir / "short.tex", {1});
  // mkdir of the existing "tga" leaves "File exists" as the error number, and
  // nothing clears it before the next argument's end-of-file failure.
  const RunResult r = split(dir, {"t", "short"});
  EXPECT_EQ(r.err, "ERROR! Could not determine X size of input file! : File exists\n");
  EXPECT_NE(r.out.find("data...done!\nKeeping the old tga/t.pal as tga/t~1.pal\n"
                       "Keeping the old tga/t.tga as tga/t~1.tga\n"),
            std::string::npos);
  EXPECT_EQ(read_file(dir / "tga" / "t~1.tga"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(read_file(dir / "tga" / "t.tga"), expected_tga(tex));
  EXPECT_EQ(read_file(dir / "tga" / "t.pal"), expected_pal(tex));
  EXPECT_EQ(fs::status(dir / "tga" / "t.tga").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  // A second file of no picture is kept beside the first; so is a PNG of
  // none, which would otherwise stand beside the new image as the newer file.
  write_file(dir / "tga" / "t.tga", {'e', 'd', 'i', 't'});
  write_file(dir / "tga" / "t.png", {'p', 'n', 'g'});
  EXPECT_NE(split(dir, {"t"})
                .out.find("data...done!\nKeeping the old tga/t.tga as tga/t~2.tga\n"
                          "Keeping the old tga/t.png as tga/t~1.png\n"),
            std::string::npos);
  EXPECT_EQ(read_file(dir / "tga" / "t~2.tga"), (Bytes{'e', 'd', 'i', 't'}));
  EXPECT_EQ(read_file(dir / "tga" / "t~1.png"), (Bytes{'p', 'n', 'g'}));
  EXPECT_FALSE(fs::exists(dir / "tga" / "t.png"));
  // Files that would not change are left as they are, time and all, with
  // the usual transcript and no copy.
  const auto split_time = fs::last_write_time(dir / "tga" / "t.tga");
  EXPECT_EQ(split(dir, {"t"}).out, transcript_indexed("t", tex.size(), 4, 8) + kPrompt);
  EXPECT_EQ(fs::last_write_time(dir / "tga" / "t.tga"), split_time);
  EXPECT_EQ(entries_in(dir / "tga"), 7u);  // and skinsplit's sums
}

TEST(Skinsplit, AReSplitNeverReplacesAnEditInProgress) {
  const Bytes tex = make_tex(TexSubtype::indexed, 4, 8);
  Bytes other_tex = tex;
  other_tex[1038] ^= 1;  // the texture welded anew: another first pixel
  std::vector<Rgba> painted = colours_of_level(sample_level(4, 8, 1));
  const std::vector<Rgba> shown = painted;
  painted[5] = {1, 2, 3, 255};
  TexPalette recoloured = sample_palette();
  recoloured[9][0] ^= 0xff;
  const struct {
    const char* name;
    std::function<void(const TempDir&)> edit;  ///< after the first split
    std::vector<std::string> args;
    int exit_code;
    std::string err;
    std::vector<const char*> kept;  ///< the copies made, in tga/
  } rows[] = {
      {"a painted picture, as PNG",
       [&](const TempDir& dir) { write_file(dir / "tga" / "t.png", make_png(4, 8, painted)); },
       {"t"},
       1,
       "ERROR! tga/t.png holds an edit that skinsplit did not write; t is not split, and "
       "skinsplit --force t splits it anew, keeping the edit as NAME~N beside it!\n",
       {}},
      {"a painted picture and a recoloured palette file",
       [&](const TempDir& dir) {
         write_file(dir / "tga" / "t.tga", make_tga_colours(4, 8, painted, 24, {2, 0, "", false}));
         write_file(dir / "tga" / "t.pal", make_pal(recoloured));
       },
       {"t"},
       1,
       "ERROR! tga/t.pal and tga/t.tga hold an edit that skinsplit did not write; t is not "
       "split, and skinsplit --force t splits it anew, keeping the edit as NAME~N beside it!\n",
       {}},
      {"forced",
       [&](const TempDir& dir) { write_file(dir / "tga" / "t.png", make_png(4, 8, painted)); },
       {"--force", "t"},
       0,
       "",
       {"t~1.png"}},
      {"the texture's own picture, saved again as PNG and in 32 bits",
       [&](const TempDir& dir) {
         write_file(dir / "tga" / "t.png", make_png(4, 8, shown));
         write_file(dir / "tga" / "t.tga", make_tga_colours(4, 8, shown, 32, {2, 0, "", false}));
       },
       {"t"},
       0,
       "",
       {}},
      {"skinsplit's own files, over a texture welded anew",
       [&](const TempDir& dir) { write_file(dir / "t.tex", other_tex); },
       {"t"},
       0,
       "",
       {}},
      {"a PNG split over its own TGA", [](const TempDir&) {}, {"--png", "t"}, 0, "", {}},
      {"a plain split over its own PNG",
       [](const TempDir& dir) {
         ASSERT_EQ(split(dir, {"--png", "t"}).exit_code, 0);
       },
       {"t"},
       0,
       "",
       {}},
      {"a PNG split over a painted TGA",
       [&](const TempDir& dir) {
         write_file(dir / "tga" / "t.tga", make_tga_colours(4, 8, painted, 24, {2, 0, "", false}));
       },
       {"--png", "t"},
       1,
       "ERROR! tga/t.tga holds an edit that skinsplit did not write; t is not split, and "
       "skinsplit --force t splits it anew, keeping the edit as NAME~N beside it!\n",
       {}},
      {"a PNG split over its PNG painted",
       [&](const TempDir& dir) {
         ASSERT_EQ(split(dir, {"--png", "t"}).exit_code, 0);
         write_file(dir / "tga" / "t.png", make_png(4, 8, painted));
       },
       {"--png", "t"},
       1,
       "ERROR! tga/t.png holds an edit that skinsplit did not write; t is not split, and "
       "skinsplit --force t splits it anew, keeping the edit as NAME~N beside it!\n",
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    write_file(dir / "t.tex", tex);
    ASSERT_EQ(split(dir, {"t"}).exit_code, 0);
    row.edit(dir);
    std::map<fs::path, Bytes> before;
    for (const auto& entry : fs::directory_iterator(dir / "tga"))
      before[entry.path().filename()] = read_file(entry.path());
    const RunResult r = split(dir, row.args);
    EXPECT_EQ(r.exit_code, row.exit_code);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.out.find("Keeping"), row.kept.empty() ? std::string::npos : r.out.find("Keeping"));
    for (const char* kept : row.kept)
      EXPECT_EQ(read_file(dir / "tga" / kept), before[fs::path(kept).replace_filename("t.png")]);
    if (row.exit_code != 0) {
      for (const auto& [name, bytes] : before)
        EXPECT_EQ(read_file(dir / "tga" / name), bytes) << name;  // nothing replaced
    } else {
      // One picture, as asked for: the other is gone where it was skinsplit's own.
      const bool as_png = row.args.front() == "--png";
      EXPECT_EQ(fs::exists(dir / "tga" / "t.tga"), !as_png);
      EXPECT_TRUE(!as_png || fs::exists(dir / "tga" / "t.png"));
      EXPECT_EQ(entries_in(dir / "tga"), 2u + row.kept.size() +
                                             (fs::exists(dir / "tga" / "t.tga") ? 1 : 0) +
                                             (fs::exists(dir / "tga" / "t.png") ? 1 : 0));
    }
  }
}

TEST(Skinsplit, ATgaThatIsNotADirectoryStopsBeforeWriting) {
  TempDir dir;
  write_file(dir / "tga", {'x'});
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 4, 4));
  const RunResult r = split(dir, {"t"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "ERROR! Could not create subdirectory tga! : Not a directory\n");
  EXPECT_NE(
      r.out.find("Checking for sub directory creation\nCreating subdirectory tga\n" + kPrompt),
      std::string::npos);
  EXPECT_EQ(entries_in(dir.path()), 2u);
}

TEST(Skinsplit, AFailedWriteKeepsTheOldFileAndNeverSaysDone) {
  TempDir dir;
  fs::create_directory(dir / "tga");
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 64, 64));  // image of 4882 bytes
  write_file(dir / "tga" / "t.pal", {'o', 'l', 'd', 'p'});
  write_file(dir / "tga" / "t.tga", {'o', 'l', 'd', 'i'});
  const struct {
    long limit;
    std::string out_end;
    std::string err;
  } cases[] = {
      // The palette file fails when it is written, once complete.
      {1000, "writing palette in RGBA format...",
       "\nERROR! Could not terminate palette! : File too large\n"},
      // The image, written in one piece, fails in its pixels or at its last byte.
      {2000, "writing data...", "\nERROR! Could not write data! : File too large\n"},
      {4881, "writing data...", "\nERROR! Could not write data! : File too large\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    RunOptions options;
    options.file_size_limit = c.limit;
    const RunResult r = split(dir, {"t"}, options);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out.substr(r.out.size() - kPrompt.size() - c.out_end.size()), c.out_end + kPrompt);
    // The palette file and the image are replaced together or not at all.
    EXPECT_EQ(read_file(dir / "tga" / "t.tga"), (Bytes{'o', 'l', 'd', 'i'}));
    EXPECT_EQ(read_file(dir / "tga" / "t.pal"), (Bytes{'o', 'l', 'd', 'p'}));
    EXPECT_EQ(entries_in(dir / "tga"), 2u);
  }
}

TEST(Skinsplit, AReadOnlyOutputIsRefusedAndLeftAlone) {
  if (!can_test_permissions()) GTEST_SKIP() << "cannot run as an unprivileged user here";
  TempDir dir;
  fs::create_directory(dir / "tga");
  fs::permissions(dir / "tga", fs::perms::all);
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 4, 4));
  write_file(dir / "tga" / "t.tga", {'o', 'l', 'd'});
  fs::permissions(dir / "tga" / "t.tga",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  RunOptions options;
  options.unprivileged = true;
  const RunResult r = split(dir, {"t"}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Saving image t.tga...\ncould not create t.tga!\n" + kPrompt),
            std::string::npos)
      << r.out;
  EXPECT_EQ(read_file(dir / "tga" / "t.tga"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(entries_in(dir / "tga"), 1u);  // no palette file without its image

  // A "tga" that may not be created is refused for that reason.
  fs::create_directory(dir / "locked");
  write_file(dir / "locked" / "t.tex", make_tex(TexSubtype::indexed, 4, 4));
  fs::permissions(dir / "locked", fs::perms::all & ~fs::perms::others_write);
  EXPECT_EQ(split(dir, {"locked/t"}, options).err,
            "ERROR! Could not create subdirectory tga! : Permission denied\n");
}
