#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>

#include "files/output_file.h"
#include "files/set_commit.h"
#include "support/run_tool.h"
#include "support/samples.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

void put(OutputFile& out, const char* text) {
  out.bytes().insert(out.bytes().end(), text, text + std::strlen(text));
}

/// Puts one output in place, as a set of one.
bool commit(OutputFile& out) {
  OutputFile* const set[] = {&out};
  return commit_outputs(set, "") == CommitResult::done;
}

/// Takes any file for the kind its name says; the tools' own check is
/// tried end to end.
bool any_kind(const std::string& /*name*/, std::span<const unsigned char> /*head*/) {
  return true;
}

/// Takes a file whose first byte is 'T' for the kind its name says.
bool starts_with_t(const std::string& /*name*/, std::span<const unsigned char> head) {
  return !head.empty() && head[0] == 'T';
}

}  // namespace

TEST(OutputFile, CommitReplacesTheTargetAndKeepsItsPermissionBits) {
  TempDir dir;
  write_file(dir / "t.tga", {'o', 'l', 'd'});
  fs::permissions(dir / "t.tga",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  errno = 1234;
  OutputFile out;
  ASSERT_TRUE(out.open_for_writing((dir / "t.tga").string(), any_kind));
  put(out, "new content");
  EXPECT_EQ(read_file(dir / "t.tga"), (Bytes{'o', 'l', 'd'}));  // untouched until commit
  ASSERT_TRUE(commit(out));
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
    ASSERT_TRUE(out.open_for_writing((dir / "t.tex").string(), any_kind));
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
  const bool opened = out.open_for_writing((dir / "new.pal").string(), any_kind);
  const bool committed = opened && commit(out);
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
  EXPECT_FALSE(out.open_for_writing((dir / "a_directory.tga").string(), any_kind));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_FALSE(out.open_for_writing((dir / "missing_dir" / "x.tga").string(), any_kind));
  EXPECT_EQ(errno, ENOENT);
  // A link to a device (a FIFO where no device node can be made) is not
  // written through: the device would become a file of that name.
  const fs::path node = dir / "node";
  if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    ASSERT_EQ(mkfifo(node.c_str(), 0666), 0);
  }
  EXPECT_FALSE(out.open_for_writing(node.string(), any_kind));
  EXPECT_EQ(errno, ENOTSUP);
  EXPECT_FALSE(fs::is_regular_file(node));
  // A name as long as the system allows still gets its temporary file.
  const std::string longest(255, 'n');
  ASSERT_TRUE(out.open_for_writing((dir / longest).string(), any_kind));
  ASSERT_TRUE(commit(out));
  EXPECT_TRUE(fs::exists(dir / longest));
}

TEST(OutputFile, ALinkIsWrittenThroughOnlyWhereTheUserMadeItForThat) {
  TempDir dir;
  fs::create_directories(dir / "game" / "textures");
  fs::create_directories(dir / "work");
  fs::create_directories(dir / "theirs");
  const fs::path victim = dir / "game" / "textures" / "car1.tex";
  const Bytes old = {'T', 'o', 'l', 'd'};
  write_file(victim, old);
  fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
  write_file(dir / "game" / "notes.txt", old);
  write_file(dir / "game" / "other.tex", {'o', 'l', 'd'});
  const bool other_users = can_test_permissions() && geteuid() == 0;
  const struct {
    const char* name;
    fs::path link;
    fs::path points_to;
    LinkVerdict verdict;
    uid_t owner = 0;  ///< of the link; 0: the user's own
  } rows[] = {
      {"absolute", dir / "work" / "absolute.tex", victim, LinkVerdict::followed},
      {"relative", dir / "work" / "relative.tex", "../game/textures/car1.tex",
       LinkVerdict::followed},
      {"chained", dir / "work" / "chained.tex", "relative.tex", LinkVerdict::followed},
      {"dangling", dir / "work" / "dangling.tex", "../game/textures/new.tex",
       LinkVerdict::dangling},
      {"circle", dir / "work" / "loop_a.tex", "loop_a.tex", LinkVerdict::dangling},
      {"directory", dir / "work" / "folder.tex", "../game", LinkVerdict::wrong_type},
      {"other extension", dir / "work" / "notes.tex", "../game/notes.txt", LinkVerdict::wrong_kind},
      {"other content", dir / "work" / "other.tex", "../game/other.tex", LinkVerdict::wrong_kind},
      {"another user's link", dir / "work" / "theirs.tex", victim, LinkVerdict::foreign, 65534},
      {"in another user's directory", dir / "theirs" / "mine.tex", victim, LinkVerdict::foreign},
  };
  if (other_users) {
    ASSERT_EQ(chown((dir / "theirs").c_str(), 65534, 65534), 0);
  }
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if ((row.owner != 0 || row.link.parent_path() == dir / "theirs") && !other_users) continue;
    fs::create_symlink(row.points_to, row.link);
    if (row.owner != 0) {
      ASSERT_EQ(lchown(row.link.c_str(), row.owner, row.owner), 0);
    }
    const Bytes before = read_file(victim);
    OutputFile out;
    const bool opened = out.open_for_writing(row.link.string(), starts_with_t);
    EXPECT_EQ(out.link_verdict(), row.verdict);
    if (row.verdict != LinkVerdict::followed) {
      EXPECT_FALSE(opened);
      EXPECT_EQ(read_file(victim), before);
      EXPECT_FALSE(fs::exists(dir / "game" / "textures" / "new.tex"));
      continue;
    }
    ASSERT_TRUE(opened);
    put(out, row.name);
    out.bytes().insert(out.bytes().begin(), 'T');
    ASSERT_TRUE(commit(out));
    EXPECT_TRUE(fs::is_symlink(row.link));
    EXPECT_EQ(read_file(row.link).size(), std::strlen(row.name) + 1);
  }
  // The file at the end keeps its mode, and no hidden file is left by it.
  EXPECT_EQ(fs::status(victim).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(entries_in(dir / "game" / "textures"), 1u);
}

TEST(OutputFile, AChangedTargetIsKeptByALinkOrACopyAndAnUnchangedOneIsNot) {
  TempDir dir;
  // A file on another file system (/dev/shm is one of its own where it
  // exists) cannot be linked to, so it is copied.
  const fs::path far = fs::path(fs::exists("/dev/shm") ? "/dev/shm" : dir.path()) /
                       ("skinkeep" + dir.path().filename().string() + ".tga");
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
      ASSERT_TRUE(out.open_for_writing((dir / target.name).string(), any_kind));
      put(out, "new");
      const auto before = fs::last_write_time(dir / target.name);
      ASSERT_TRUE(out.finish());
      ASSERT_TRUE(out.keep_changed_target(numbered, kept));
      ASSERT_TRUE(commit(out));
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
