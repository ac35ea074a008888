#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "files/output_file.h"
#include "support/samples.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

void put(OutputFile& out, const char* text) {
  out.bytes().insert(out.bytes().end(), text, text + std::strlen(text));
}

}  // namespace

TEST(OutputFile, CommitReplacesTheTargetAndKeepsItsPermissionBits) {
  TempDir dir;
  write_file(dir / "t.tga", {'o', 'l', 'd'});
  fs::permissions(dir / "t.tga",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  errno = 1234;
  OutputFile out;
  ASSERT_TRUE(out.open((dir / "t.tga").string()));
  put(out, "new content");
  EXPECT_EQ(read_file(dir / "t.tga"), (Bytes{'o', 'l', 'd'}));  // untouched until commit
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(errno, 1234);
  EXPECT_EQ(read_file(dir / "t.tga").size(), 11u);
  EXPECT_EQ(fs::status(dir / "t.tga").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(OutputFile, UncommittedOutputLeavesNoTraceAndTheOldFileIntact) {
  TempDir dir;
  write_file(dir / "t.tex", {'o', 'l', 'd'});
  {
    OutputFile out;
    ASSERT_TRUE(out.open((dir / "t.tex").string()));
    put(out, "half written");
    EXPECT_EQ(entries_in(dir.path()), 2u);
  }
  EXPECT_EQ(read_file(dir / "t.tex"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(OutputFile, NewFileGetsTheModeFopenWouldGive) {
  TempDir dir;
  const mode_t old_mask = umask(027);
  OutputFile out;
  const bool opened = out.open((dir / "new.pal").string());
  const bool committed = opened && out.commit();
  umask(old_mask);
  ASSERT_TRUE(committed);
  EXPECT_EQ(fs::status(dir / "new.pal").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(OutputFile, TargetsThatCannotBeWrittenAreRefusedWithTheirOwnErrorNumber) {
  TempDir dir;
  fs::create_directory(dir / "a_directory.tga");
  OutputFile out;
  errno = 0;
  EXPECT_FALSE(out.open((dir / "a_directory.tga").string()));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_FALSE(out.open((dir / "missing_dir" / "x.tga").string()));
  EXPECT_EQ(errno, ENOENT);
  // A link to a device (a FIFO where no device node can be made) is not
  // written through: the device would become a file of that name.
  const fs::path node = dir / "node";
  if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    ASSERT_EQ(mkfifo(node.c_str(), 0666), 0);
  }
  fs::create_symlink(node, dir / "linked.tga");
  EXPECT_FALSE(out.open((dir / "linked.tga").string()));
  EXPECT_EQ(errno, ENOTSUP);
  EXPECT_FALSE(fs::is_regular_file(node));
  // A name as long as the system allows still gets its temporary file.
  const std::string longest(255, 'n');
  ASSERT_TRUE(out.open((dir / longest).string()));
  ASSERT_TRUE(out.commit());
  EXPECT_TRUE(fs::exists(dir / longest));
}

TEST(OutputFile, ALinkStaysALinkAndTheFileItNamesIsReplaced) {
  TempDir dir;
  fs::create_directories(dir / "game" / "textures");
  fs::create_directory(dir / "work");
  write_file(dir / "game" / "textures" / "car1.tex", {'o', 'l', 'd'});
  fs::permissions(dir / "game" / "textures" / "car1.tex",
                  fs::perms::owner_read | fs::perms::owner_write);
  // Absolute, relative, a link to a link, and a dangling one whose file is made.
  fs::create_symlink(dir / "game" / "textures" / "car1.tex", dir / "work" / "absolute.tex");
  fs::create_symlink("../game/textures/car1.tex", dir / "work" / "relative.tex");
  fs::create_symlink("relative.tex", dir / "work" / "chained.tex");
  fs::create_symlink("../game/textures/new.tex", dir / "work" / "dangling.tex");
  for (const char* link : {"absolute.tex", "relative.tex", "chained.tex", "dangling.tex"}) {
    SCOPED_TRACE(link);
    OutputFile out;
    ASSERT_TRUE(out.open((dir / "work" / link).string()));
    put(out, link);
    ASSERT_TRUE(out.commit());
    EXPECT_TRUE(fs::is_symlink(dir / "work" / link));
    EXPECT_EQ(read_file(dir / "work" / link), Bytes(link, link + std::strlen(link)));
  }
  EXPECT_EQ(fs::status(dir / "game" / "textures" / "car1.tex").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(entries_in(dir / "game" / "textures"), 2u);
  EXPECT_EQ(entries_in(dir / "work"), 4u);

  // A circle of links is refused as the system refuses it.
  fs::create_symlink("loop_b.tex", dir / "work" / "loop_a.tex");
  fs::create_symlink("loop_a.tex", dir / "work" / "loop_b.tex");
  OutputFile out;
  EXPECT_FALSE(out.open((dir / "work" / "loop_a.tex").string()));
  EXPECT_EQ(errno, ELOOP);
}

TEST(OutputFile, AChangedTargetIsKeptByALinkOrACopyAndAnUnchangedOneIsNot) {
  TempDir dir;
  // A file on another file system (/dev/shm is one of its own where it
  // exists) cannot be linked to, so it is copied.
  const fs::path far = fs::path(fs::exists("/dev/shm") ? "/dev/shm" : dir.path()) /
                       ("skinkeep" + dir.path().filename().string());
  write_file(dir / "here.tga", {'o', 'l', 'd'});
  write_file(far, {'f', 'a', 'r'});
  fs::create_symlink(far, dir / "there.tga");
  const struct {
    std::string name;
    Bytes old;
  } targets[] = {{"here.tga", {'o', 'l', 'd'}}, {"there.tga", {'f', 'a', 'r'}}};
  for (const auto& target : targets) {
    SCOPED_TRACE(target.name);
    const auto numbered = [&](unsigned n) {
      return (dir / (target.name + std::to_string(n))).string();
    };
    write_file(numbered(1), {'x'});  // the first name is taken: the second it is
    for (const std::string& expected : {numbered(2), std::string()}) {
      OutputFile out;
      std::string kept;
      ASSERT_TRUE(out.open((dir / target.name).string()));
      put(out, "new");
      const auto before = fs::last_write_time(dir / target.name);
      ASSERT_TRUE(out.finish());
      ASSERT_TRUE(out.keep_changed_target(numbered, kept));
      ASSERT_TRUE(out.commit());
      EXPECT_EQ(kept, expected);
      // The second time the bytes are the same: nothing is kept, nothing
      // written, and the file keeps its time.
      if (expected.empty()) {
        EXPECT_EQ(fs::last_write_time(dir / target.name), before);
      }
    }
    EXPECT_EQ(read_file(numbered(2)), target.old);
    EXPECT_EQ(read_file(dir / target.name), (Bytes{'n', 'e', 'w'}));
  }
  EXPECT_TRUE(fs::is_symlink(dir / "there.tga"));
  EXPECT_EQ(fs::hard_link_count(dir / "here.tga2"), 1u);  // the old file, now under one name
  fs::remove(far);
}
