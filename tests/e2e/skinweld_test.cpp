#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/samples.h"
#include "support/streams.h"
#include "support/tools.h"

namespace fs = std::filesystem;

namespace {

RunResult weld(const TempDir& dir, const std::vector<std::string>& args,
               const RunOptions& options = {}) {
  return run_tool(kSkinweld, args, dir.path(), options);
}

/// The three levels of a texture: the sample pattern and its samples.
struct Levels {
  unsigned width, height;
  Bytes high, medium, low;
};

Levels sample_levels(unsigned width, unsigned height) {
  return {width, height, sample_level(width, height, 1), sample_level(width / 2, height / 2, 2),
          sample_level(width / 4, height / 4, 4)};
}

/// Lays out the image directory of a texture as a user prepares it.
void make_image_dir(const fs::path& dir, const std::string& name, const Levels& levels,
                    const TgaOptions& options = {}) {
  const TexPalette palette = sample_palette();
  fs::create_directories(dir / name);
  write_file(dir / name / (name + ".pal"), make_pal(palette));
  const unsigned w = levels.width;
  const unsigned h = levels.height;
  write_file(dir / name / (name + "_h.tga"), make_tga8(w, h, levels.high, palette, options));
  write_file(dir / name / (name + "_m.tga"),
             make_tga8(w / 2, h / 2, levels.medium, palette, options));
  write_file(dir / name / (name + "_l.tga"), make_tga8(w / 4, h / 4, levels.low, palette, options));
}

Bytes expected_tex(const Levels& levels, const TexTail& tail = kTexDefaultTail) {
  Bytes out(14, 0);
  put_u16le(&out[0], static_cast<std::uint16_t>(levels.width));
  put_u16le(&out[2], static_cast<std::uint16_t>(levels.height));
  std::copy(tail.begin(), tail.end(), out.begin() + 4);
  for (const TexPaletteEntry& e : sample_palette())
    out.insert(out.end(), e.begin(), e.end());
  for (const Bytes* level : {&levels.high, &levels.medium, &levels.low})
    out.insert(out.end(), level->begin(), level->end());
  return out;
}

std::string reading(const std::string& file, unsigned w, unsigned h, const char* quality) {
  return "Opening " + file + "...\nDimensions of image = " + std::to_string(w) + "x" +
         std::to_string(h) + "\nReading data for " + quality + " quality image...done!\n";
}

std::string transcript(const std::string& name, unsigned w, unsigned h, bool tex_exists) {
  return "Opening " + name + ".pal...Reading data for palette...done!\n" +
         reading(name + "_h.tga", w, h, "high") + reading(name + "_m.tga", w / 2, h / 2, "medium") +
         reading(name + "_l.tga", w / 4, h / 4, "low") + "Checking " + name + ".tex..." +
         (tex_exists ? "" : "not found.  Creating new TEX file...") + "Writing " + name +
         ".tex...\nwriting palette in BGRA format...done!\nSaving high LOD...done!\n"
         "Saving medium LOD...done!\nSaving low LOD...done!\n";
}

std::string tail_of(const std::string& text, std::size_t count) {
  return text.size() < count ? text : text.substr(text.size() - count);
}

}  // namespace

TEST(Skinweld, BuildsTheTexFileWithAndWithoutAnOldOne) {
  TempDir dir;
  const Levels levels = sample_levels(256, 256);
  make_image_dir(dir.path(), "car1", levels);
  const RunResult first = weld(dir, {"car1"});
  EXPECT_EQ(first.out, transcript("car1", 256, 256, false) + kPrompt);
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.exit_code, 0);
  EXPECT_EQ(first_difference(read_file(dir / "car1.tex"), expected_tex(levels)), -1);

  // The old file's sub-type 14 and other tail bytes are carried over.
  Bytes old = read_file(dir / "car1.tex");
  const TexTail tail = {14, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  std::copy(tail.begin(), tail.end(), old.begin() + 4);
  write_file(dir / "car1.tex", old);
  const RunResult again = weld(dir, {"car1.tex"});
  EXPECT_EQ(again.out, transcript("car1", 256, 256, true) + kPrompt);
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(first_difference(read_file(dir / "car1.tex"), expected_tex(levels, tail)), -1);

  // So is a sub-type the tools do not know, with a word; and an edited image
  // newer than the levels was not prepared yet.
  Bytes sub15 = read_file(dir / "car1.tex");
  sub15[4] = 15;
  write_file(dir / "car1.tex", sub15);
  fs::create_directory(dir / "tga");
  write_file(dir / "tga" / "car1.tga", {});
  fs::last_write_time(dir / "tga" / "car1.tga",
                      fs::last_write_time(dir / "car1" / "car1_h.tga") + std::chrono::seconds(1));
  EXPECT_EQ(weld(dir, {"car1"}).err,
            "WARNING! car1.tex has sub-type 15, not a paletted texture these tools know; its "
            "header is kept as it was.\nWARNING! tga/car1.tga is newer than car1/car1_h.tga: the "
            "edit is not in this texture; run skinprep car1 first.\n");
  EXPECT_EQ(read_file(dir / "car1.tex"), sub15);

  // An old file too short for a tail gives the default one.
  write_file(dir / "car1.tex", Bytes(10, 0xee));
  const RunResult short_tail = weld(dir, {"car1.TEX"});
  EXPECT_NE(short_tail.out.find("Checking car1.tex...could not determine sub-type, assuming CAR."
                                "Writing car1.tex...\n"),
            std::string::npos);
  EXPECT_EQ(read_file(dir / "car1.tex"), expected_tex(levels));
}

TEST(Skinweld, SizesFromNothingToTheLimit) {
  TempDir dir;
  // Each replaces the one before, and says how its size changes.
  const struct {
    unsigned w, h;
    std::string warning;
  } sizes[] = {{0, 0, ""},
               {6, 6, "WARNING! t.tex was 0 x 0 and becomes 6 x 6.\n"},
               {5, 10, "WARNING! t.tex was 6 x 6 and becomes 5 x 10.\n"},
               {256, 128, "WARNING! t.tex was 5 x 10 and becomes 256 x 128.\n"},
               {255, 255, "WARNING! t.tex was 256 x 128 and becomes 255 x 255.\n"},
               {512, 512,
                "WARNING! t.tex was 255 x 255 and becomes 512 x 512; skinsplit reads textures up "
                "to 256 x 256.\n"}};
  for (const auto& [w, h, warning] : sizes) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const Levels levels = sample_levels(w, h);
    make_image_dir(dir.path(), "t", levels);
    const RunResult r = weld(dir, {"t"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, warning);
    const Bytes tex = read_file(dir / "t.tex");
    EXPECT_EQ(tex.size(), 1038 + w * h + (w / 2) * (h / 2) + (w / 4) * (h / 4));
    EXPECT_EQ(first_difference(tex, expected_tex(levels)), -1);
    // skinsplit reads back every texture skinweld writes, up to its limit.
    EXPECT_EQ(run_tool(kSkinsplit, {"t"}, dir.path()).exit_code, w <= 256 ? 0 : 1);
    fs::remove_all(dir / "t");
    fs::remove_all(dir / "tga");
  }
}

TEST(Skinweld, EveryRefusalHasItsMessageAndLeavesTheOldTexFile) {
  TempDir dir;
  const Bytes old = {'o', 'l', 'd', ' ', 't', 'e', 'x', ' ', 'f', 'i', 'l', 'e', 0, 0, 1};
  const Levels levels = sample_levels(16, 8);
  const TexPalette palette = sample_palette();
  const Bytes good_pal = make_pal(palette);
  const Bytes low = make_tga8(4, 2, levels.low, palette);
  Bytes truecolour = make_tga8(16, 8, levels.high, palette);
  truecolour[2] = 2, truecolour[16] = 24;
  const struct {
    const char* name;
    const char* file;  // replaced in the image directory; empty to remove it
    Bytes content;
    bool remove;
    std::string out_end;
    std::string err;
  } cases[] = {
      {"no palette",
       ".pal",
       {},
       true,
       "Opening t.pal...not found.\n",
       "ERROR! Could not open palette file! : No such file or directory\n"},
      {"palette of 23 bytes", ".pal", Bytes(good_pal.begin(), good_pal.begin() + 23), false,
       "Reading data for palette...", "\nERROR! Could not read palette header : Success\n"},
      {"palette of 1047 bytes", ".pal", Bytes(good_pal.begin(), good_pal.begin() + 1047), false,
       "Reading data for palette...", "\nERROR! Tried to read past EOF!\n"},
      {"no high image",
       "_h.tga",
       {},
       true,
       "Opening t_h.tga...not found.\n",
       "ERROR! Could not open high LOD image! : No such file or directory\n"},
      {"no medium image",
       "_m.tga",
       {},
       true,
       "Opening t_m.tga...not found.\n",
       "ERROR! Could not open medium LOD image! : No such file or directory\n"},
      {"no low image",
       "_l.tga",
       {},
       true,
       "Opening t_l.tga...not found.\n",
       "ERROR! Could not open low LOD image! : No such file or directory\n"},
      {"high of 513", "_h.tga", make_tga8(513, 1, Bytes(513, 1), palette), false,
       "Dimensions of image = 513x1\n", "ERROR! Image exceeds maximum size!\n"},
      {"medium as big as high", "_m.tga", make_tga8(16, 8, levels.high, palette), false,
       "Dimensions of image = 16x8\n", "ERROR! Image not correct size!\n"},
      {"low compared with high", "_l.tga", make_tga8(2, 1, {1, 2}, palette), false,
       "Dimensions of image = 2x1\n", "ERROR! Image not correct size!\n"},
      {"header of 17 bytes", "_m.tga", Bytes(17, 0), false, "Opening t_m.tga...",
       "\nERROR! Could not read tga header : Success\n"},
      {"pixels cut short", "_l.tga", Bytes(low.begin(), low.begin() + 786 + 7), false,
       "Reading data for low quality image...", "\nERROR! Tried to read past end-of-file!\n"},
      {"true-colour image", "_h.tga", truecolour, false, "Dimensions of image = 16x8\n",
       "ERROR! Image is not an 8-bit colour-mapped or grey-scale image!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir / "t");
    make_image_dir(dir.path(), "t", levels);
    write_file(dir / "t.tex", old);
    const fs::path changed = dir / "t" / (std::string("t") + c.file);
    if (c.remove) {
      fs::remove(changed);
    } else {
      write_file(changed, c.content);
    }
    const RunResult r = weld(dir, {"t"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(tail_of(r.out, c.out_end.size() + kPrompt.size()), c.out_end + kPrompt);
    EXPECT_EQ(read_file(dir / "t.tex"), old);
  }

  const RunResult no_dir = weld(dir, {"absent"});
  EXPECT_EQ(no_dir.out, kPrompt);
  EXPECT_EQ(no_dir.err,
            "ERROR! Could not change to image directory! : No such file or directory\n");

  // A true-colour texture is never overwritten with a paletted one.
  make_image_dir(dir.path(), "t", levels);
  Bytes truecolour_tex = make_tex(TexSubtype::truecolour24, 16, 8);
  write_file(dir / "t.tex", truecolour_tex);
  const RunResult kept = weld(dir, {"t"});
  EXPECT_EQ(kept.err, "\nERROR! t.tex has true-colour sub-type 17, not replaced!\n");
  const std::string checking = "Checking t.tex...";
  EXPECT_EQ(tail_of(kept.out, checking.size() + kPrompt.size()), checking + kPrompt);
  EXPECT_EQ(read_file(dir / "t.tex"), truecolour_tex);

  // Nor is a FIFO, or a link to one, opened to read its header: that would
  // wait for a writer for ever.
  for (const bool linked : {false, true}) {
    SCOPED_TRACE(linked);
    fs::remove(dir / "t.tex");
    fs::remove(dir / "pipe");
    ASSERT_EQ(mkfifo((dir / (linked ? "pipe" : "t.tex")).c_str(), 0666), 0);
    if (linked) fs::create_symlink("pipe", dir / "t.tex");
    const RunResult fifo = weld(dir, {"t"});
    EXPECT_EQ(fifo.exit_code, 1);
    EXPECT_EQ(fifo.err, "\nERROR! Could not open TEX file! : Operation not supported\n");
  }
}

TEST(Skinweld, ImagesAsPaintProgramsSaveThemReachTheTexFileTheRightWayUp) {
  TempDir dir;
  const Levels levels = sample_levels(32, 16);
  for (const TgaOptions& options :
       {TgaOptions{9, 0x00, "", true}, TgaOptions{1, 0x20, "saved by hand", false},
        TgaOptions{11, 0x30, "", true}}) {
    make_image_dir(dir.path(), "t", levels, options);
    const RunResult r = weld(dir, {"t"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(first_difference(read_file(dir / "t.tex"), expected_tex(levels)), -1)
        << int{options.image_type} << " " << int{options.descriptor};
  }
}

TEST(Skinweld, AReorderedColourMapIsReportedAndThePaletteFileWins) {
  TempDir dir;
  const Levels levels = sample_levels(16, 8);
  make_image_dir(dir.path(), "t", levels);
  TexPalette reordered = sample_palette();
  std::reverse(reordered.begin(), reordered.end());
  write_file(dir / "t" / "t_h.tga", make_tga8(16, 8, levels.high, reordered));
  write_file(dir / "t" / "t_l.tga", make_tga8(4, 2, levels.low, reordered));
  const RunResult r = weld(dir, {"t"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, transcript("t", 16, 8, false) + kPrompt);
  EXPECT_EQ(
      r.err,
      "WARNING! Colours of t_h.tga differ from t.pal; the palette file's colours are used.\n"
      "WARNING! Colours of t_l.tga differ from t.pal; the palette file's colours are used.\n");
  EXPECT_EQ(read_file(dir / "t.tex"), expected_tex(levels));
}

TEST(Skinweld, NamesAreStrippedOfExactlyTexOrTEX) {
  TempDir dir;
  const Levels levels = sample_levels(8, 8);
  make_image_dir(dir.path(), "car1.Tex", levels);
  make_image_dir(dir.path(), "abc", levels);
  const RunResult r = weld(dir, {"car1.Tex", "abc"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "car1.Tex.tex"));
  EXPECT_TRUE(fs::exists(dir / "abc.tex"));
  // The second of two bare names is found although the first failed inside its image directory.
  fs::remove(dir / "abc" / "abc_l.tga");
  const RunResult second = weld(dir, {"abc", "car1.Tex"});
  EXPECT_EQ(second.exit_code, 1);
  const std::string done = "Saving low LOD...done!\n";
  EXPECT_EQ(tail_of(second.out, done.size() + kPrompt.size()), done + kPrompt);
  EXPECT_NE(second.out.find("Opening car1.Tex.pal..."), std::string::npos);
}

TEST(Skinweld, AnyPathToTheImageDirectoryWritesTheTexFileBesideIt) {
  TempDir dir;
  const Levels levels = sample_levels(16, 8);
  fs::create_directories(dir / "sub");
  make_image_dir(dir / "sub", "car1", levels);
  const std::string absolute = (dir / "sub" / "car1").string();
  // The files are named by their bare names, wherever the directory lies.
  for (const auto& [argument, where] : {std::pair{std::string("sub/car1/"), dir / "sub"},
                                        {absolute, dir / "sub"},
                                        {"sub/car1", dir / "sub"},
                                        {"sub/car1.tex", dir / "sub"},
                                        {absolute + "//", dir / "sub"},
                                        {"car1/", dir / "sub"}}) {
    SCOPED_TRACE(argument);
    fs::remove(where / "car1.tex");
    const RunResult r = run_tool(kSkinweld, {argument}, argument == "car1/" ? where : dir.path());
    EXPECT_EQ(r.out, transcript("car1", 16, 8, false) + kPrompt);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(where / "car1.tex"), expected_tex(levels));
    EXPECT_FALSE(fs::exists(dir / "car1.tex"));
    EXPECT_FALSE(fs::exists(where / "car1" / "car1.tex"));
  }

  // An image directory that is a link: the TEX file goes beside the link,
  // not beside the directory it points to.
  fs::create_directories(dir / "elsewhere" / "deeper");
  fs::rename(dir / "sub" / "car1", dir / "elsewhere" / "deeper" / "car1");
  fs::create_directory_symlink(dir / "elsewhere" / "deeper" / "car1", dir / "sub" / "car1");
  fs::remove(dir / "sub" / "car1.tex");
  const RunResult linked = weld(dir, {"sub/car1"});
  EXPECT_EQ(linked.exit_code, 0) << linked.err;
  EXPECT_EQ(read_file(dir / "sub" / "car1.tex"), expected_tex(levels));
  EXPECT_FALSE(fs::exists(dir / "elsewhere" / "deeper" / "car1.tex"));

  // A TEX file that is a link into a game folder: the file there is replaced.
  fs::rename(dir / "sub" / "car1.tex", dir / "elsewhere" / "game.tex");
  fs::create_symlink("../elsewhere/game.tex", dir / "sub" / "car1.tex");
  write_file(dir / "elsewhere" / "game.tex", make_tex(TexSubtype::indexed, 16, 8));
  EXPECT_EQ(weld(dir, {"sub/car1"}).exit_code, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "sub" / "car1.tex"));
  EXPECT_EQ(read_file(dir / "elsewhere" / "game.tex"), expected_tex(levels));
}

TEST(Skinweld, ALostWayBackToTheTexFileWritesNothing) {
  if (!can_test_permissions()) GTEST_SKIP() << "cannot run as an unprivileged user here";
  TempDir dir;
  make_image_dir(dir.path(), "car1", sample_levels(8, 8));
  // The tool starts in a directory it may not search, so it cannot come back
  // there; the image directory itself is reached by its absolute path.
  fs::create_directory(dir / "start");
  fs::permissions(dir / "start", fs::perms::owner_all);
  RunOptions options;
  options.unprivileged = true;
  const RunResult r = run_tool(kSkinweld, {(dir / "car1").string()}, dir / "start", options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "ERROR! Could not change to texture directory! : Permission denied\n");
  EXPECT_EQ(tail_of(r.out, 40 + kPrompt.size()),
            tail_of(reading("car1_l.tga", 2, 2, "low"), 40) + kPrompt);
  EXPECT_FALSE(fs::exists(dir / "car1.tex"));
  EXPECT_FALSE(fs::exists(dir / "car1" / "car1.tex"));
}

TEST(Skinweld, AFailedWriteLeavesTheOldTexFileExactlyAsItWas) {
  TempDir dir;
  make_image_dir(dir.path(), "t", sample_levels(64, 64));  // a TEX file of 6414 bytes
  Bytes old = make_tex(TexSubtype::indexed, 64, 64);
  old.back() ^= 0xff;  // not the new texture, so that it is replaced
  write_file(dir / "t.tex", old);
  // The file is made in memory and written in one piece once complete: a
  // write fails after the last level, wherever the limit lies.
  for (const auto& [limit, out_end] :
       {std::pair{100L, "Saving low LOD..."}, std::pair{6000L, "Saving low LOD..."}}) {
    SCOPED_TRACE(limit);
    RunOptions options;
    options.file_size_limit = limit;
    const RunResult r = weld(dir, {"t"}, options);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "\nERROR! Could not write data! : File too large\n");
    EXPECT_EQ(tail_of(r.out, std::string(out_end).size() + kPrompt.size()), out_end + kPrompt);
    EXPECT_EQ(read_file(dir / "t.tex"), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
  }
}

TEST(Skinweld, ATexFileThatCannotBeReadOrWrittenIsRefusedAndKept) {
  if (!can_test_permissions()) GTEST_SKIP() << "cannot run as an unprivileged user here";
  TempDir dir;
  make_image_dir(dir.path(), "t", sample_levels(8, 8));
  const Bytes old = make_tex(TexSubtype::indexed_expanded, 8, 8);
  const struct {
    fs::perms mode;
    std::string out_end;
    std::string err;
  } cases[] = {
      {fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
       "Checking t.tex...failed.\n", "ERROR!  Could not create TEX file : Permission denied\n"},
      // Not "not found": its sub-type and header bytes are not to be lost.
      {fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
       "Checking t.tex...", "\nERROR! Could not open TEX file! : Permission denied\n"},
  };
  for (const auto& c : cases) {
    write_file(dir / "t.tex", old);
    fs::permissions(dir / "t.tex", c.mode);
    RunOptions options;
    options.unprivileged = true;
    const RunResult r = weld(dir, {"t"}, options);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(tail_of(r.out, c.out_end.size() + kPrompt.size()), c.out_end + kPrompt);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(read_file(dir / "t.tex"), old);
    fs::remove(dir / "t.tex");
  }
}

TEST(Skinweld, SplitThenWeldGivesBackTheSameTexture) {
  TempDir dir;
  const Bytes original = make_tex(TexSubtype::indexed, 64, 32);
  write_file(dir / "car1.tex", original);
  ASSERT_EQ(run_tool(kSkinsplit, {"car1.tex"}, dir.path()).exit_code, 0);

  fs::create_directory(dir / "car1");
  const Bytes image = read_file(dir / "tga" / "car1.tga");
  Bytes palette = read_file(dir / "tga" / "car1.pal");
  palette.resize(1048);  // a palette file without its terminator is read all the same
  write_file(dir / "car1" / "car1.pal", palette);
  write_file(dir / "car1" / "car1_h.tga", image);
  write_file(dir / "car1" / "car1_m.tga", shrink_tga8(image, 2));
  write_file(dir / "car1" / "car1_l.tga", shrink_tga8(image, 4));
  const RunResult r = weld(dir, {"car1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(first_difference(read_file(dir / "car1.tex"), original), -1);
}
