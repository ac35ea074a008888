// Every prefix of every input, every write position of every output, and
// hostile names: no crash, one message per refusal, nothing lost.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>

#include "support/samples.h"
#include "support/streams.h"
#include "support/tools.h"

namespace fs = std::filesystem;

namespace {

std::size_t count_of(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
    ++count;
  return count;
}

bool ends_with_prompt(const RunResult& r) {
  return r.out.size() >= kPrompt.size() && r.out.substr(r.out.size() - kPrompt.size()) == kPrompt;
}

/// Every file and directory below dir with its content ("" for a directory).
std::map<fs::path, Bytes> snapshot(const fs::path& dir) {
  std::map<fs::path, Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const fs::path relative = fs::relative(entry.path(), dir);
    files[relative] =
        entry.is_regular_file() && !entry.is_symlink() ? read_file(entry.path()) : Bytes{};
  }
  return files;
}

/// The files a refused or failed run may not leave: temporary ones, old
/// files kept while a set is put in place, and a set's commit record.
std::size_t temporary_files(const fs::path& dir) {
  std::size_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    for (const char* mark : {".partial-", ".old-", "-commit"})
      count += entry.path().filename().string().find(mark) != std::string::npos;
  return count;
}

/// What every run of these loops must show, refused or not: no crash, the
/// closing prompt, and no temporary file left anywhere below dir.
::testing::AssertionResult ended_cleanly(const RunResult& r, const fs::path& dir) {
  if (r.signal != 0) return ::testing::AssertionFailure() << "ended by signal " << r.signal;
  if (!ends_with_prompt(r))
    return ::testing::AssertionFailure() << "no prompt at the end: " << r.out;
  if (temporary_files(dir) != 0) return ::testing::AssertionFailure() << "a temporary file is left";
  return ::testing::AssertionSuccess();
}

RunOptions file_size_limit(long limit) {
  RunOptions options;
  options.file_size_limit = limit;
  return options;
}

struct WeldInputs {
  Bytes pal, high, medium, low, tex;
};

WeldInputs weld_inputs() {
  const TexPalette palette = sample_palette();
  return {make_pal(palette), make_tga8(4, 4, sample_level(4, 4, 1), palette),
          make_tga8(2, 2, sample_level(2, 2, 2), palette),
          make_tga8(1, 1, sample_level(1, 1, 4), palette), make_tex(TexSubtype::indexed, 4, 4)};
}

void lay_out(const TempDir& dir, const WeldInputs& in) {
  fs::create_directories(dir / "t");
  write_file(dir / "t" / "t.pal", in.pal);
  write_file(dir / "t" / "t_h.tga", in.high);
  write_file(dir / "t" / "t_m.tga", in.medium);
  write_file(dir / "t" / "t_l.tga", in.low);
  write_file(dir / "t.tex", in.tex);
}

void check_split_prefixes(TexSubtype subtype) {
  TempDir dir;
  const Bytes tex = make_tex(subtype, 8, 4);
  for (std::size_t length = 0; length <= tex.size(); ++length) {
    if (!tried(length, tex.size(), {4, 5, 14, 1038})) continue;
    SCOPED_TRACE(length);
    write_file(dir / "t.tex", Bytes(tex.begin(), tex.begin() + static_cast<long>(length)));
    const RunResult r = run_tool(kSkinsplit, {"t"}, dir.path());
    ASSERT_TRUE(ended_cleanly(r, dir.path()));
    if (length == tex.size()) {
      ASSERT_EQ(r.exit_code, 0) << r.err;
      ASSERT_TRUE(fs::exists(dir / "tga" / "t.tga"));
    } else {
      ASSERT_EQ(r.exit_code, 1);
      ASSERT_EQ(count_of(r.err, "ERROR!"), 1u) << r.err;
      ASSERT_FALSE(fs::exists(dir / "tga"));
    }
  }
}

/// Cuts one input of skinweld at every length; the others stay whole.
void check_weld_prefixes(Bytes WeldInputs::*cut, const fs::path& name) {
  TempDir dir;
  const WeldInputs whole = weld_inputs();
  const Bytes& input = whole.*cut;
  const Bytes old_tex = make_tex(TexSubtype::indexed_expanded, 4, 4);
  for (std::size_t length = 0; length <= input.size(); ++length) {
    if (!tried(length, input.size(), {14, 18, 24, 786, 1048})) continue;
    SCOPED_TRACE(length);
    WeldInputs in = whole;
    in.*cut = Bytes(input.begin(), input.begin() + static_cast<long>(length));
    if (cut != &WeldInputs::tex) in.tex = old_tex;
    lay_out(dir, in);
    const RunResult r = run_tool(kSkinweld, {"t"}, dir.path());
    ASSERT_TRUE(ended_cleanly(r, dir.path()));
    // An existing TEX file of any length only gives the header tail; a
    // palette file needs its 1048 bytes, an image every byte.
    const bool complete = cut == &WeldInputs::tex || length == input.size() ||
                          (cut == &WeldInputs::pal && length >= 1048);
    if (complete) {
      ASSERT_EQ(r.exit_code, 0) << name << ": " << r.err;
      ASSERT_EQ(read_file(dir / "t.tex").size(), 1038u + 16 + 4 + 1);
    } else {
      ASSERT_EQ(r.exit_code, 1);
      ASSERT_EQ(count_of(r.err, "ERROR!"), 1u) << r.err;
      ASSERT_EQ(read_file(dir / "t.tex"), old_tex);
    }
  }
}

/// Cuts skinprep's image at every length, beside a palette file and a
/// texture; the palette file is read by the step skinweld's loop above cuts.
void check_prep_prefixes() {
  TempDir dir;
  const Bytes image =
      make_tga_colours(4, 4, colours_of_level(sample_level(4, 4, 1)), 32, {10, 0x20, "id", false});
  fs::create_directories(dir / "tga");
  write_file(dir / "tga" / "t.pal", make_pal(sample_palette()));
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 4, 4));
  for (std::size_t length = 0; length <= image.size(); ++length) {
    if (!tried(length, image.size(), {18, 24})) continue;
    SCOPED_TRACE(length);
    fs::remove_all(dir / "t");
    write_file(dir / "tga" / "t.tga",
               Bytes(image.begin(), image.begin() + static_cast<long>(length)));
    const RunResult r = run_tool(kSkinprep, {"t"}, dir.path());
    ASSERT_TRUE(ended_cleanly(r, dir.path()));
    if (length == image.size()) {
      ASSERT_EQ(r.exit_code, 0) << r.err;
      ASSERT_EQ(read_file(dir / "t" / "t_h.tga").size(), 786u + 16);
    } else {
      ASSERT_EQ(r.exit_code, 1);
      ASSERT_EQ(count_of(r.err, "ERROR!"), 1u) << r.err;
      ASSERT_FALSE(fs::exists(dir / "t"));
    }
  }
}

/// The files of a set, in order, or empty where one is missing.
std::vector<Bytes> contents_of(const TempDir& dir, const std::vector<fs::path>& set) {
  std::vector<Bytes> contents;
  for (const fs::path& file : set)
    contents.push_back(fs::exists(dir / file) ? read_file(dir / file) : Bytes{});
  return contents;
}

/// Whether a process has ended (a zombie not yet reaped counts as ended).
bool has_ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const std::size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z' ||
         line[close + 2] == 'X';
}

/// Interrupts runs of a tool that works on one texture over and over (so
/// that most of a run is spent writing; once for skinprep, which finds the
/// texture up to date the second time), from points spread over the run,
/// each once it is caught writing. Afterwards no temporary file is left, and
/// the files that belong together are all old or all new.
void check_interrupts(const std::string& exe, const TempDir& dir, const std::vector<fs::path>& set,
                      const std::function<void()>& lay_old) {
  const std::vector<std::string> args(exe == kSkinprep ? 1 : 24, "t");
  lay_old();
  const std::vector<Bytes> old = contents_of(dir, set);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(run_tool(exe, args, dir.path()).exit_code, 0);
  const auto whole_run = std::chrono::steady_clock::now() - started;
  const std::vector<Bytes> done = contents_of(dir, set);

  const int runs = 32;
  int caught_writing = 0;
  for (int run = 0; run < runs; ++run) {
    const int signal_number = std::array{SIGINT, SIGTERM, SIGHUP, SIGQUIT}[run % 4];
    SCOPED_TRACE(std::to_string(run) + ": signal " + std::to_string(signal_number));
    lay_old();
    RunOptions options;
    bool caught = false;
    // From a point spread over the run on, stopped and looked at until it is
    // caught writing (or has had its chances), then interrupted.
    options.while_running = [&, run, signal_number](pid_t pid) {
      // A single prepare is looked at until it writes or ends, however
      // slow the machine is now: most of it goes into reading and matching.
      std::this_thread::sleep_for(whole_run * run / runs / 2);
      for (int look = 0; look < 100 || (args.size() == 1 && !has_ended(pid)); ++look) {
        kill(pid, SIGSTOP);
        if (temporary_files(dir.path()) > 0) {
          caught = true;
          ++caught_writing;
          break;
        }
        kill(pid, SIGCONT);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      kill(pid, signal_number);
      kill(pid, SIGCONT);
    };
    const RunResult r = run_tool(exe, args, dir.path(), options);
    if (r.exit_code == 0) continue;  // finished before the interrupt
    EXPECT_EQ(r.signal, signal_number);
    // One line says what became of the texture it was writing (a run stopped
    // before its first texture has none to speak of).
    if (caught) {
      EXPECT_TRUE(r.err.ends_with("\nInterrupted: t is left as it was.\n") ||
                  r.err.ends_with("\nInterrupted: the new files of t are all in place.\n"))
          << r.err;
    }
    EXPECT_EQ(temporary_files(dir.path()), 0u);
    const std::vector<Bytes> now = contents_of(dir, set);
    EXPECT_TRUE(now == old || now == done);
  }
  // The interrupts must really have come while a file was being written.
  EXPECT_GE(caught_writing, runs / 2);
}

const std::vector<fs::path> kPrepSet = {"t/t.pal", "t/t_h.tga", "t/t_m.tga", "t/t_l.tga"};

/// An old image directory whose four files skinprep replaces.
void lay_out_old_set(const TempDir& dir) {
  fs::remove_all(dir / "t");
  fs::create_directory(dir / "t");
  for (const fs::path& file : kPrepSet)
    write_file(dir / file, {'o', 'l', 'd', static_cast<unsigned char>(file.string()[4])});
}

}  // namespace

/// Every prefix of one input of one tool: each row names the tool's input
/// that is cut and how the loop over it runs.
struct PrefixRow {
  const char* name;
  std::function<void()> check;
};

class Truncation : public ::testing::TestWithParam<PrefixRow> {};

TEST_P(Truncation, EveryPrefixIsRefusedWithOneMessageAndTheWholeFileTaken) {
  GetParam().check();
}

INSTANTIATE_TEST_SUITE_P(
    EveryInput, Truncation,
    ::testing::Values(
        PrefixRow{"ImageToPrepare", [] { check_prep_prefixes(); }},
        PrefixRow{"IndexedTexture", [] { check_split_prefixes(TexSubtype::indexed); }},
        PrefixRow{"ExpandedTexture", [] { check_split_prefixes(TexSubtype::indexed_expanded); }},
        PrefixRow{"Texture24Bit", [] { check_split_prefixes(TexSubtype::truecolour24); }},
        PrefixRow{"Texture32Bit", [] { check_split_prefixes(TexSubtype::truecolour32); }},
        PrefixRow{"PaletteFile", [] { check_weld_prefixes(&WeldInputs::pal, "pal"); }},
        PrefixRow{"HighImage", [] { check_weld_prefixes(&WeldInputs::high, "high"); }},
        PrefixRow{"MediumImage", [] { check_weld_prefixes(&WeldInputs::medium, "medium"); }},
        PrefixRow{"LowImage", [] { check_weld_prefixes(&WeldInputs::low, "low"); }},
        PrefixRow{"OldTexFile", [] { check_weld_prefixes(&WeldInputs::tex, "tex"); }}),
    [](const ::testing::TestParamInfo<PrefixRow>& row) { return std::string(row.param.name); });

TEST(FaultInjection, EveryWritePositionOfThePaletteFileAndImage) {
  TempDir dir;
  const Bytes tex = make_tex(TexSubtype::indexed, 32, 32);  // palette 1052 bytes, image 1810
  write_file(dir / "t.tex", tex);
  fs::create_directory(dir / "tga");
  const Bytes old_pal = {'o', 'l', 'd', 'p'};
  const Bytes old_tga = {'o', 'l', 'd', 'i'};
  for (long limit = 0; limit <= 1810; ++limit) {
    if (!tried(limit, 1810, {18, 786, 1052})) continue;
    SCOPED_TRACE(limit);
    write_file(dir / "tga" / "t.pal", old_pal);
    write_file(dir / "tga" / "t.tga", old_tga);
    const RunResult r = run_tool(kSkinsplit, {"t"}, dir.path(), file_size_limit(limit));
    ASSERT_TRUE(ended_cleanly(r, dir.path()));
    if (limit < 1052) {
      ASSERT_EQ(r.err, "\nERROR! Could not terminate palette! : File too large\n");
      ASSERT_EQ(count_of(r.out, "done!"), 0u);
      ASSERT_EQ(read_file(dir / "tga" / "t.pal"), old_pal);
      ASSERT_EQ(read_file(dir / "tga" / "t.tga"), old_tga);
    } else if (limit < 1810) {
      ASSERT_EQ(r.err, "\nERROR! Could not write data! : File too large\n");
      ASSERT_EQ(count_of(r.out, "done!"), 1u);  // the palette file's, before the image began
      ASSERT_EQ(read_file(dir / "tga" / "t.pal"), old_pal);  // not without its image
      ASSERT_EQ(read_file(dir / "tga" / "t.tga"), old_tga);
    } else {
      ASSERT_EQ(r.exit_code, 0) << r.err;
      ASSERT_EQ(read_file(dir / "tga" / "t.tga").size(), 1810u);
    }
  }
}

TEST(FaultInjection, EveryWriteFailureOfSkinprepsFourFilesKeepsTheOldSet) {
  TempDir dir;
  // 64 x 32: the palette file is 1052 bytes, the levels 2834, 1298 and 914;
  // the preview page is larger than all of them.
  fs::create_directory(dir / "tga");
  write_file(dir / "tga" / "t.tga", make_tga8(64, 32, sample_level(64, 32, 1), sample_palette()));
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 64, 32));
  lay_out_old_set(dir);
  const auto old = snapshot(dir / "t");
  for (long limit = 0; limit <= 2834; ++limit) {
    if (!tried(limit, 2834, {1052})) continue;
    SCOPED_TRACE(limit);
    lay_out_old_set(dir);
    const RunResult r = run_tool(kSkinprep, {"t"}, dir.path(), file_size_limit(limit));
    ASSERT_TRUE(ended_cleanly(r, dir.path()));
    ASSERT_EQ(count_of(r.err, "ERROR!"), 1u) << r.err;
    ASSERT_EQ(snapshot(dir / "t"), old);
  }
  ASSERT_EQ(run_tool(kSkinprep, {"t"}, dir.path()).exit_code, 0);
  ASSERT_EQ(read_file(dir / "t" / "t_h.tga").size(), 2834u);
  // The smaller levels fail where they cannot be made at all.
  for (const char* level : {"t_m.tga", "t_l.tga"}) {
    SCOPED_TRACE(level);
    lay_out_old_set(dir);
    fs::remove(dir / "t" / level);
    fs::create_directory(dir / "t" / level);
    const auto before = snapshot(dir / "t");
    const RunResult r = run_tool(kSkinprep, {"t"}, dir.path());
    ASSERT_TRUE(ended_cleanly(r, dir.path()));
    EXPECT_EQ(r.err, std::string("ERROR! Could not create ") + level + " : Is a directory\n");
    EXPECT_EQ(snapshot(dir / "t"), before);
  }
}

TEST(FaultInjection, EveryWritePositionOfTheTexFile) {
  TempDir dir;
  const WeldInputs in = weld_inputs();
  Bytes old_tex = make_tex(TexSubtype::indexed_expanded, 4, 4);
  old_tex.back() ^= 0xff;  // one pixel other than the new texture's, so that it is replaced
  const long size = 1038 + 16 + 4 + 1;
  for (long limit = 0; limit <= size; ++limit) {
    if (!tried(limit, size, {14, 1038})) continue;
    SCOPED_TRACE(limit);
    lay_out(dir, in);
    write_file(dir / "t.tex", old_tex);
    const RunResult r = run_tool(kSkinweld, {"t"}, dir.path(), file_size_limit(limit));
    ASSERT_TRUE(ended_cleanly(r, dir.path()));
    if (limit < size) {
      ASSERT_EQ(r.err, "\nERROR! Could not write data! : File too large\n");
      ASSERT_EQ(r.out.find("Saving low LOD...done!"), std::string::npos);
      ASSERT_EQ(read_file(dir / "t.tex"), old_tex);
    } else {
      ASSERT_EQ(r.exit_code, 0) << r.err;
      ASSERT_EQ(read_file(dir / "t.tex").size(), static_cast<std::size_t>(size));
    }
  }
}

/// A set a tool replaces, laid out old before each run, and the tool that
/// runs next on the texture after one was killed.
struct SetRow {
  const char* name;
  std::string exe;
  std::vector<fs::path> set;
  std::function<void(const TempDir&)> lay_old;
  std::string next_exe;
  std::string record;
  std::string reader_exe;  ///< a tool that reads the set, and so never goes on with it mixed
};

class RenameFaults : public ::testing::TestWithParam<SetRow> {};

/// strace's arguments to run command with a fault injected into a system
/// call. LeakSanitizer cannot work under ptrace, so a sanitized tool runs
/// without it there.
std::vector<std::string> with_fault(const std::string& call, const std::string& injection,
                                    const std::vector<std::string>& command) {
  std::vector<std::string> args = {"-f",
                                   "-o",
                                   "/dev/null",
                                   "-E",
                                   "ASAN_OPTIONS=detect_leaks=0:exitcode=86",
                                   "-e",
                                   "trace=" + call,
                                   "-e",
                                   injection};
  args.insert(args.end(), command.begin(), command.end());
  return args;
}

/// Runs the tool under strace, which makes its n-th rename fail or kills
/// it there.
RunResult run_with_rename_fault(const std::string& exe, const TempDir& dir, const std::string& when,
                                const char* fault) {
  const std::string inject = "rename:" + std::string(fault) + ":when=" + when;
  return run_tool("/usr/bin/strace", with_fault("rename", "inject=" + inject, {exe, "t"}),
                  dir.path());
}

/// Every rename of the set failing in turn leaves the old set whole with
/// one error line; a kill at every rename leaves what the next run of
/// another tool repairs, saying so, to the old set.
TEST_P(RenameFaults, AtEveryPositionTheOldSetStaysOrComesBackWhole) {
  const SetRow& row = GetParam();
  TempDir dir;
  row.lay_old(dir);
  const auto old = snapshot(dir.path());
  const std::vector<Bytes> old_set = contents_of(dir, row.set);
  int failed = 0;
  for (int n = 1; n <= 8; ++n) {
    SCOPED_TRACE(n);
    row.lay_old(dir);
    const RunResult r = run_with_rename_fault(row.exe, dir, std::to_string(n), "error=EIO");
    ASSERT_TRUE(ended_cleanly(r, dir.path()));
    if (r.exit_code == 0) break;  // past the last rename
    ++failed;
    ASSERT_EQ(r.err, "ERROR! Could not put the new files in place! : Input/output error\n");
    ASSERT_EQ(snapshot(dir.path()), old);

    row.lay_old(dir);
    const RunResult killed = run_with_rename_fault(row.exe, dir, std::to_string(n), "signal=KILL");
    ASSERT_NE(killed.exit_code, 0);
    const RunResult next = run_tool(row.next_exe, {"t"}, dir.path());
    ASSERT_NE(next.out.find("Repaired " + row.record + ": "), std::string::npos) << next.out;
    ASSERT_NE(next.out.find(std::to_string(n - 1) + " of its files; the old files are back.\n"),
              std::string::npos)
        << next.out;
    ASSERT_EQ(temporary_files(dir.path()), 0u);
    ASSERT_EQ(contents_of(dir, row.set), old_set);
  }
  EXPECT_EQ(failed, static_cast<int>(row.set.size()));
}

/// Renames failing from the n-th on (a file system gone read-only) fail the
/// putting back too: the set is said to be mixed once a file was replaced,
/// a tool that reads it refuses it while its repair fails as well, and the
/// next run that can repairs it.
TEST_P(RenameFaults, WhenThePuttingBackFailsTooTheNextRunRepairsTheSet) {
  const SetRow& row = GetParam();
  TempDir dir;
  row.lay_old(dir);
  const std::vector<Bytes> old_set = contents_of(dir, row.set);
  for (std::size_t n = 1; n <= row.set.size(); ++n) {
    SCOPED_TRACE(n);
    row.lay_old(dir);
    const Bytes old_tex = read_file(dir / "t.tex");
    const RunResult r = run_with_rename_fault(row.exe, dir, std::to_string(n) + "+", "error=EIO");
    ASSERT_EQ(r.exit_code, 1);
    if (n == 1) {
      ASSERT_EQ(r.err, "ERROR! Could not put the new files in place! : Input/output error\n");
      continue;
    }
    ASSERT_EQ(r.err, "ERROR! Could not put the new files in place, nor all the old ones back: " +
                         row.record +
                         " keeps the list, and the next run on this texture puts the old ones "
                         "back! : Input/output error\n");
    const RunResult refused = run_with_rename_fault(row.reader_exe, dir, "1+", "error=EIO");
    ASSERT_EQ(refused.exit_code, 1);
    ASSERT_EQ(refused.err, "ERROR! Could not put back the old files " + row.record +
                               " lists (Input/output error): t is left as it is until the next "
                               "run can!\n");
    ASSERT_EQ(read_file(dir / "t.tex"), old_tex);
    const RunResult next = run_tool(row.next_exe, {"t"}, dir.path());
    ASSERT_NE(next.out.find("Repaired " + row.record + ": "), std::string::npos) << next.out;
    ASSERT_EQ(temporary_files(dir.path()), 0u);
    ASSERT_EQ(contents_of(dir, row.set), old_set);
  }
}

/// Removes everything in dir.
void clear(const TempDir& dir) {
  for (const auto& entry : fs::directory_iterator(dir.path()))
    fs::remove_all(entry.path());
}

/// A texture split once, with an old pair in tga/ to replace.
void lay_out_split(const TempDir& dir) {
  clear(dir);
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 32, 32));
  fs::remove_all(dir / "tga");
  fs::create_directory(dir / "tga");
  write_file(dir / "tga" / "t.pal", {'o', 'l', 'd', 'p'});
  write_file(dir / "tga" / "t.tga", {'o', 'l', 'd', 'i'});
  write_file(dir / "tga" / ".t.skinsplit-sums", {'o', 'l', 'd', 's'});
}

/// An edited image over a texture, with an old set of four to replace.
void lay_out_prep(const TempDir& dir) {
  clear(dir);
  fs::create_directories(dir / "tga");
  write_file(dir / "tga" / "t.tga", make_tga8(64, 32, sample_level(64, 32, 1), sample_palette()));
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 64, 32));
  lay_out_old_set(dir);
}

INSTANTIATE_TEST_SUITE_P(
    EverySet, RenameFaults,
    ::testing::Values(SetRow{"SkinsplitsPair",
                             kSkinsplit,
                             {"tga/t.pal", "tga/t.tga", "tga/.t.skinsplit-sums"},
                             lay_out_split,
                             kSkinweld,
                             "tga/.t.skinsplit-commit",
                             kSkinprep},
                      SetRow{"SkinprepsSet",
                             kSkinprep,
                             {"t/t.pal", "t/t_h.tga", "t/t_m.tga", "t/t_l.tga", "t/t_source.png",
                              "t/t_preview.html"},
                             lay_out_prep,
                             kSkinsplit,
                             "t/.t.skinprep-commit",
                             kSkinweld}),
    [](const ::testing::TestParamInfo<SetRow>& row) { return std::string(row.param.name); });

/// A rename the system itself refuses part-way through a set: the last file
/// owned by another user in a sticky directory, or a mount point (busy).
TEST_P(RenameFaults, ARenameTheSystemRefusesPutsTheOldSetBack) {
  const SetRow& row = GetParam();
  TempDir dir;
  const fs::path last = dir / row.set[std::min<std::size_t>(row.set.size(), 4) - 1];
  if (can_test_permissions() && geteuid() == 0) {
    row.lay_old(dir);
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
      ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(last.parent_path().c_str(), 0, 0), 0);
    ASSERT_EQ(chown(last.c_str(), 0, 0), 0);
    fs::permissions(last.parent_path(), fs::perms::all | fs::perms::sticky_bit);
    fs::permissions(last, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::group_write | fs::perms::others_read |
                              fs::perms::others_write);
    const auto old = snapshot(dir.path());
    RunOptions options;
    options.unprivileged = true;
    const RunResult r = run_tool(row.exe, {"t"}, dir.path(), options);
    EXPECT_TRUE(ended_cleanly(r, dir.path()));
    EXPECT_EQ(r.err, "ERROR! Could not put the new files in place! : Operation not permitted\n");
    EXPECT_EQ(snapshot(dir.path()), old);
  }
  row.lay_old(dir);
  write_file(dir / "mounted", {'b', 'u', 's', 'y'});
  if (run_tool("/bin/mount", {"--bind", (dir / "mounted").string(), last.string()}, dir.path())
          .exit_code != 0)
    GTEST_SKIP() << "cannot bind-mount here";
  const auto old = snapshot(dir.path());
  const RunResult r = run_tool(row.exe, {"t"}, dir.path());
  EXPECT_TRUE(ended_cleanly(r, dir.path()));
  EXPECT_EQ(r.err, "ERROR! Could not put the new files in place! : Device or resource busy\n");
  EXPECT_EQ(snapshot(dir.path()), old);
  run_tool("/bin/umount", {last.string()}, dir.path());
}

/// What a planted file may aim at: another user's secret (root's 0600
/// file when the tests run as root), a name where nothing is, and a secret
/// on another file system (/dev/shm, where there is one).
struct Victims {
  fs::path secret, nowhere, far;
};

/// A file planted in a texture's folders, and what the tool run next says.
struct PlantRow {
  const char* name;
  std::function<void(const TempDir&, const Victims&)> plant;
  std::string exe;
  std::string err;
  int exit_code = 0;
  bool as_another_user = false;  ///< planted with another owner: needs root
  std::function<void(const TempDir&)> check = nullptr;
};

void plant(const fs::path& path, const std::string& text, uid_t owner = 0) {
  write_file(path, Bytes(text.begin(), text.end()));
  if (owner != 0) {
    ASSERT_EQ(lchown(path.c_str(), owner, owner), 0);
  }
}

void plant_link(const fs::path& link, const fs::path& to, uid_t owner = 0) {
  fs::remove_all(link);
  fs::create_symlink(to, link);
  if (owner != 0) {
    ASSERT_EQ(lchown(link.c_str(), owner, owner), 0);
  }
}

constexpr uid_t kAttacker = 65534;

TEST(PlantedFiles, NoFileSomeoneElseMadeTurnsTheToolsAgainstTheUser) {
  const bool other_users = can_test_permissions() && geteuid() == 0;
  const std::string split_record = "tga/.t.skinsplit-commit";
  const std::string prep_record = "t/.t.skinprep-commit";
  const PlantRow rows[] = {
      {"another user's record, naming any file",
       [](const TempDir& dir, const Victims& v) {
         plant(dir / "t" / ".t.skinprep-commit",
               "commit record 2\nwrite\t" + v.secret.string() + "\t\t\nend\n", kAttacker);
       },
       kSkinweld,
       "WARNING! t/.t.skinprep-commit is not a record skinprep wrote (it belongs to another "
       "user); it is left as it is.\n",
       0, true},
      {"a record of the user's own from an earlier version, naming any file",
       [](const TempDir& dir, const Victims& v) {
         plant(dir / "t" / ".t.skinprep-commit",
               "commit record 1\nwrite\t" + v.secret.string() + "\t\t\n");
       },
       kSkinweld,
       "WARNING! t/.t.skinprep-commit is not a record skinprep wrote (it is not a record of this "
       "version); it is left as it is.\n"},
      {"a record naming a file outside, in the way of the tool's own",
       [](const TempDir& dir, const Victims&) {
         plant(dir / "tga" / ".t.skinsplit-commit",
               "commit record 2\nwrite\t../../victim\t\t\nend\n");
       },
       kSkinsplit,
       "ERROR! tga/.t.skinsplit-commit is in the way of skinsplit's record and is not one it "
       "wrote (it names ../../victim, which is not one of the files it stands for): remove it, "
       "and t is left as it is until then!\n",
       1},
      {"a record naming the set's file but a hidden file that is not its own",
       [](const TempDir& dir, const Victims&) {
         plant(dir / "t" / ".t_h.tga.old-AbC123", "theirs", kAttacker);
         plant(dir / "t" / ".t.skinprep-commit",
               "commit record 2\nwrite\tt_h.tga\t.t_h.tga.partial-XyZ789\t.t_h.tga.old-AbC123"
               "\nend\n");
       },
       kSkinprep,
       "ERROR! t/.t.skinprep-commit is in the way of skinprep's record and is not one it wrote "
       "(it names .t_h.tga.old-AbC123, which is not a file of its own): remove it, and t is left "
       "as it is until then!\n",
       1, true},
      {"another user's link at the record's name",
       [&](const TempDir& dir, const Victims& v) {
         plant_link(dir / prep_record, v.secret, kAttacker);
       },
       kSkinprep,
       "ERROR! t/.t.skinprep-commit is in the way of skinprep's record and is not one it wrote "
       "(it is not a regular file): remove it, and t is left as it is until then!\n",
       1, true},
      {"a dangling link at the record's name",
       [&](const TempDir& dir, const Victims& v) { plant_link(dir / split_record, v.nowhere); },
       kSkinsplit,
       "ERROR! tga/.t.skinsplit-commit is in the way of skinsplit's record and is not one it "
       "wrote (it is not a regular file): remove it, and t is left as it is until then!\n",
       1},
      {"another user's link at a level",
       [](const TempDir& dir, const Victims& v) {
         plant_link(dir / "t" / "t_h.tga", v.secret, kAttacker);
       },
       kSkinprep,
       "ERROR! t_h.tga is a link of another user's, or in another user's directory, which the "
       "tools do not write through!\n",
       1, true},
      {"a dangling link at the memory",
       [](const TempDir& dir, const Victims& v) {
         plant_link(dir / "t" / "t_source.png", v.nowhere);
       },
       kSkinprep,
       "ERROR! t_source.png is a link that leads to nothing, which the tools do not write "
       "through!\n",
       1},
      {"a link to a secret on another file system at the image",
       [](const TempDir& dir, const Victims& v) { plant_link(dir / "tga" / "t.tga", v.far); },
       kSkinsplit,
       "ERROR! tga/t.tga is a link to a file that is not a TGA image or has another extension, "
       "which the tools do not write through!\n",
       1, false, [](const TempDir& dir) { EXPECT_FALSE(fs::exists(dir / "tga" / "t~1.tga")); }},
      {"another user's link for tga",
       [](const TempDir& dir, const Victims& v) {
         plant_link(dir / "tga", v.secret.parent_path() / "elsewhere", kAttacker);
       },
       kSkinsplit,
       "ERROR! tga is a link of another user's, or in another user's directory, which the tools "
       "do not enter!\n",
       1, true},
      {"another user's link for the image directory",
       [](const TempDir& dir, const Victims& v) {
         plant_link(dir / "t", v.secret.parent_path() / "elsewhere", kAttacker);
       },
       kSkinweld,
       "ERROR! t is a link of another user's, or in another user's directory, which the tools "
       "do not enter!\n",
       1, true},
      {"another user's link at the TEX file in a sticky folder",
       [](const TempDir& dir, const Victims& v) {
         fs::permissions(dir.path(), fs::perms::all | fs::perms::sticky_bit);
         plant_link(dir / "t.tex", v.secret, kAttacker);
       },
       kSkinweld,
       "ERROR! t.tex is a link of another user's, or in another user's directory, which the "
       "tools do not write through!\n",
       1, true},
      {"hidden files that stopped runs left, and another user's",
       [](const TempDir& dir, const Victims&) {
         plant(dir / "t" / ".t_h.tga.partial-AbC123", "left");
         plant(dir / "tga" / ".t.pal.old-XyZ789", "left");
         plant(dir / ".t.tex.partial-Qw12Er", "left");
         plant(dir / "t" / ".t_l.tga.old-QQQQQQ", "theirs", kAttacker);
       },
       kSkinsplit, "", 0, true,
       [](const TempDir& dir) {
         EXPECT_EQ(temporary_files(dir.path()), 1u);
         EXPECT_TRUE(fs::exists(dir / "t" / ".t_l.tga.old-QQQQQQ"));
       }},
      {"a record cut short, and an empty one",
       [](const TempDir& dir, const Victims&) {
         plant(dir / "t" / ".t_h.tga.partial-AbC123", "new");
         plant(dir / "t" / ".t.skinprep-commit",
               "commit record 2\nwrite\tt_h.tga\t.t_h.tga.partial-AbC123\t\n");
         plant(dir / "tga" / ".t.skinsplit-commit", "");
       },
       kSkinweld, "", 0, false,
       [](const TempDir& dir) { EXPECT_EQ(temporary_files(dir.path()), 0u); }},
  };
  for (const PlantRow& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.as_another_user && !other_users) continue;
    TempDir dir;
    write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 8, 4));
    ASSERT_EQ(run_tool(kSkinsplit, {"t"}, dir.path()).exit_code, 0);
    ASSERT_EQ(run_tool(kSkinprep, {"t"}, dir.path()).exit_code, 0);
    fs::create_directory(dir / "elsewhere");
    const Victims victims = {dir / "victim", dir / "nowhere",
                             fs::path(fs::exists("/dev/shm") ? "/dev/shm" : dir.path()) /
                                 ("skinsecret" + dir.path().filename().string() + ".txt")};
    plant(victims.secret, "secret");
    fs::permissions(victims.secret, fs::perms::owner_read | fs::perms::owner_write);
    plant(victims.far, "far secret");
    fs::permissions(victims.far, fs::perms::owner_read | fs::perms::owner_write);
    row.plant(dir, victims);
    const RunResult r = run_tool(row.exe, {"t"}, dir.path());
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.exit_code, row.exit_code);
    EXPECT_EQ(read_file(victims.secret), (Bytes{'s', 'e', 'c', 'r', 'e', 't'}));
    EXPECT_EQ(fs::status(victims.secret).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(read_file(victims.far).size(), 10u);
    EXPECT_FALSE(fs::exists(victims.nowhere));
    EXPECT_EQ(entries_in(dir / "elsewhere"), 0u);
    if (row.check) row.check(dir);
    fs::remove(victims.far);
  }
}

TEST(HostileNames, LongAndStrangeNamesWorkWhereTheSystemAllowsThem) {
  TempDir dir;
  const std::string longest_split(251, 's');  // with ".tex", 255 bytes
  const std::string longest_weld(249, 'w');   // with "_h.tga", 255 bytes
  const std::string strange = "-my skin 'one' \"two\"\n\t\xc3\xa9\xff";
  const Bytes tex = make_tex(TexSubtype::indexed, 4, 4);
  for (const std::string& name : {longest_split, strange})
    write_file(dir / (name + ".tex"), tex);
  const WeldInputs in = weld_inputs();
  for (const std::string& name : {longest_weld, strange}) {
    fs::create_directory(dir / name);
    write_file(dir / name / (name + ".pal"), in.pal);
    write_file(dir / name / (name + "_h.tga"), in.high);
    write_file(dir / name / (name + "_m.tga"), in.medium);
    write_file(dir / name / (name + "_l.tga"), in.low);
  }
  const RunResult split = run_tool(kSkinsplit, {longest_split + ".tex", strange}, dir.path());
  EXPECT_EQ(split.exit_code, 0) << split.err;
  EXPECT_EQ(read_file(dir / "tga" / (longest_split + ".tga")),
            read_file(dir / "tga" / (strange + ".tga")));
  const RunResult weld = run_tool(kSkinweld, {longest_weld, strange + ".tex"}, dir.path());
  EXPECT_EQ(weld.exit_code, 0) << weld.err;
  EXPECT_EQ(read_file(dir / (longest_weld + ".tex")).size(), 1059u);
  EXPECT_EQ(read_file(dir / (strange + ".tex")), read_file(dir / (longest_weld + ".tex")));

  // A set whose record holds such a name is repaired after a kill like any other.
  for (const char* extension : {".pal", ".tga"})
    write_file(dir / "tga" / (strange + extension), {'o', 'l', 'd'});
  const RunResult killed = run_tool(
      "/usr/bin/strace",
      with_fault("rename", "inject=rename:signal=KILL:when=2", {kSkinsplit, strange}), dir.path());
  EXPECT_NE(killed.exit_code, 0);
  const RunResult repaired = run_tool(kSkinweld, {strange}, dir.path());
  EXPECT_NE(repaired.out.find("Repaired tga/." + strange + ".skinsplit-commit: "),
            std::string::npos)
      << repaired.out << repaired.err;
  EXPECT_EQ(read_file(dir / "tga" / (strange + ".pal")), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(temporary_files(dir.path()), 0u);

  // One byte longer than a file name may be: refused with a message, nothing made.
  const auto before = snapshot(dir.path());
  const RunResult too_long = run_tool(kSkinsplit, {std::string(252, 's')}, dir.path());
  EXPECT_EQ(too_long.exit_code, 1);
  EXPECT_NE(too_long.out.find("file not found!\n"), std::string::npos);
  const RunResult too_long_weld = run_tool(kSkinweld, {std::string(250, 'w')}, dir.path());
  EXPECT_EQ(too_long_weld.err,
            "ERROR! Could not change to image directory! : No such file or directory\n");
  EXPECT_EQ(snapshot(dir.path()), before);
}

TEST(HostileNames, DeepPathsEmptyNamesAndBlockedPlaces) {
  TempDir dir;
  // A path of about 4,000 bytes, just within what the system takes.
  fs::path deep;
  for (int i = 0; i < 19; ++i)
    deep /= std::string(200, static_cast<char>('a' + i));
  fs::create_directories(dir / deep);
  write_file(dir / deep / "t.tex", make_tex(TexSubtype::truecolour24, 4, 4));
  const std::string deep_name = (deep / "t.tex").string();
  ASSERT_GT(deep_name.size(), 3800u);
  const RunResult r = run_tool(kSkinsplit, {deep_name}, dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / deep / "tga" / "t.tga"));

  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 4, 4));
  fs::create_directory_symlink(dir / "nowhere", dir / "tga");  // a dangling link
  const auto before = snapshot(dir.path());
  const RunResult dangling = run_tool(kSkinsplit, {"t", ""}, dir.path());
  EXPECT_EQ(dangling.err,
            "ERROR! tga is a link that leads to nothing, which the tools do not enter!\n");
  EXPECT_NE(dangling.out.find("Opening .tex...file not found!\n"), std::string::npos);
  const RunResult empty = run_tool(kSkinweld, {""}, dir.path());
  EXPECT_EQ(empty.err, "ERROR! Could not change to image directory! : No such file or directory\n");
  EXPECT_EQ(snapshot(dir.path()), before);
}

TEST(HostileNames, DirectoriesWithoutSearchPermission) {
  if (!can_test_permissions()) GTEST_SKIP() << "cannot run as an unprivileged user here";
  TempDir dir;
  fs::create_directories(dir / "locked" / "t");
  write_file(dir / "locked" / "t.tex", make_tex(TexSubtype::indexed, 4, 4));
  fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_write);
  const auto before = snapshot(dir.path());
  RunOptions options;
  options.unprivileged = true;
  const RunResult split = run_tool(kSkinsplit, {"locked/t.tex"}, dir.path(), options);
  EXPECT_EQ(split.err, "ERROR! Could not change to texture directory! : Permission denied\n");
  const RunResult weld = run_tool(kSkinweld, {"locked"}, dir.path(), options);
  EXPECT_EQ(weld.err, "ERROR! Could not change to image directory! : Permission denied\n");
  EXPECT_EQ(split.exit_code, 1);
  EXPECT_EQ(weld.exit_code, 1);
  EXPECT_EQ(snapshot(dir.path()), before);
}

TEST(Interrupts, AnInterruptWhileWritingLeavesNoTemporaryFileAndTheOldFileWhole) {
  TempDir dir;
  const TexPalette palette = sample_palette();
  fs::create_directory(dir / "t");
  write_file(dir / "t" / "t.pal", make_pal(palette));
  write_file(dir / "t" / "t_h.tga", make_tga8(512, 512, sample_level(512, 512, 1), palette));
  write_file(dir / "t" / "t_m.tga", make_tga8(256, 256, sample_level(256, 256, 2), palette));
  write_file(dir / "t" / "t_l.tga", make_tga8(128, 128, sample_level(128, 128, 4), palette));
  check_interrupts(kSkinweld, dir, {"t.tex"}, [&] { write_file(dir / "t.tex", {'o', 'l', 'd'}); });
}

TEST(Interrupts, SkinprepsFourFilesAreReplacedAllOrNone) {
  TempDir dir;
  fs::create_directory(dir / "tga");
  write_file(dir / "tga" / "t.tga",
             make_tga8(512, 512, sample_level(512, 512, 1), sample_palette()));
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 512, 512));
  check_interrupts(kSkinprep, dir, kPrepSet, [&] { lay_out_old_set(dir); });
}

TEST(Interrupts, AClosedPipeOnTheConsoleLeavesNoTemporaryFile) {
  TempDir dir;
  const Bytes tex = make_tex(TexSubtype::indexed, 256, 256);
  write_file(dir / "t.tex", tex);
  ASSERT_EQ(run_tool(kSkinsplit, {"t"}, dir.path()).exit_code, 0);
  const Bytes split = read_file(dir / "tga" / "t.tga");
  // The console fills its pipe buffer many times over while files are written.
  std::string command = "'" + kSkinsplit + "'";
  for (int n = 0; n < 100; ++n)
    command += " t";
  const RunResult r = run_tool("/bin/sh", {"-c", command + " | head -c1"}, dir.path());
  EXPECT_EQ(r.out, "O");
  EXPECT_EQ(temporary_files(dir.path()), 0u);
  EXPECT_EQ(read_file(dir / "tga" / "t.tga"), split);
}

TEST(Concurrency, ALockThatCannotBeTakenIsSaid) {
  TempDir dir;
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 4, 4));
  // No lock at all (as on some network file systems): one warning line.
  const RunResult unlocked =
      run_tool("/usr/bin/strace",
               with_fault("flock", "inject=flock:error=ENOLCK", {kSkinsplit, "t"}), dir.path());
  EXPECT_EQ(unlocked.exit_code, 0);
  EXPECT_EQ(unlocked.err,
            "WARNING! Could not lock t against other runs (No locks available): two runs on it at "
            "once may mix their files.\n");
  // A directory that cannot be read (mode 311) locks a hidden lock file in it.
  if (!can_test_permissions()) GTEST_SKIP() << "cannot run as an unprivileged user here";
  const fs::path shared = dir / "shared";
  fs::create_directory(shared);
  write_file(shared / "t.tex", make_tex(TexSubtype::indexed, 4, 4));
  fs::permissions(shared, fs::perms::owner_write | fs::perms::owner_exec | fs::perms::group_exec |
                              fs::perms::others_write | fs::perms::others_exec);
  RunOptions options;
  options.unprivileged = true;
  const RunResult locked = run_tool(kSkinsplit, {"t"}, shared, options);
  fs::permissions(shared, fs::perms::all);
  EXPECT_EQ(locked.exit_code, 0);
  EXPECT_EQ(locked.err, "");
  EXPECT_TRUE(fs::exists(shared / ".t.lock"));
  // One that can neither be read nor written (mode 111) says why.
  fs::remove(shared / ".t.lock");
  fs::permissions(shared, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
  const RunResult refused = run_tool(kSkinsplit, {"t"}, shared, options);
  fs::permissions(shared, fs::perms::all);
  EXPECT_EQ(refused.err.substr(0, refused.err.find('\n')),
            "WARNING! Could not lock t against other runs (Permission denied): two runs on it at "
            "once may mix their files.");
}

TEST(Concurrency, ARunThatWaitsForAnothersLockSaysSoAfterASecond) {
  TempDir dir;
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 4, 4));
  const int held = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  auto run = std::async(std::launch::async,
                        [&] { return run_tool(kSkinsplit, {(dir / "t").string()}, "/"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(fs::exists(dir / "tga"));  // still waiting
  close(held);
  const RunResult r = run.get();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Waiting for another run on t, which holds the lock on " +
                            dir.path().string() + "/...\n",
                        0),
            0u)
      << r.out;
}

TEST(Concurrency, TwoSkinprepRunsOnOneTextureLeaveOneRunsCompleteSet) {
  TempDir dir;
  fs::create_directory(dir / "tga");
  const TexPalette palette = sample_palette();
  const Bytes indices = sample_level(512, 512, 1);
  std::vector<Rgba> painted = colours_of_level(indices);
  std::fill(painted.begin(), painted.begin() + 512 * 64, Rgba{1, 2, 3, 255});
  const Bytes images[] = {make_tga8(512, 512, indices, palette),
                          make_tga_colours(512, 512, painted, 24, {2, 0, "", false})};
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 512, 512));
  std::vector<std::vector<Bytes>> sets;
  for (const Bytes& image : images) {
    write_file(dir / "tga" / "t.tga", image);
    ASSERT_EQ(run_tool(kSkinprep, {"t"}, dir.path()).exit_code, 0);
    sets.push_back(contents_of(dir, kPrepSet));
  }
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE(run);
    lay_out_old_set(dir);
    write_file(dir / "tga" / "t.tga", images[0]);
    auto first =
        std::async(std::launch::async, [&] { return run_tool(kSkinprep, {"t"}, dir.path()); });
    write_file(dir / "tga" / "next.tga", images[1]);
    fs::rename(dir / "tga" / "next.tga", dir / "tga" / "t.tga");
    const RunResult second = run_tool(kSkinprep, {"t"}, dir.path());
    EXPECT_EQ(first.get().exit_code, 0);
    EXPECT_EQ(second.exit_code, 0);
    const std::vector<Bytes> now = contents_of(dir, kPrepSet);
    EXPECT_TRUE(now == sets[0] || now == sets[1]);
  }
}
