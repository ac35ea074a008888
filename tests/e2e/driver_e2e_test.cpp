#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/samples.h"
#include "support/tools.h"

namespace fs = std::filesystem;

namespace {

struct Levels {
  Bytes high, medium, low;
};

}  // namespace

TEST(Tools, WithoutNamesEachPrintsItsOwnUsageLineAndExitsWithTwo) {
  TempDir dir;
  const struct {
    const std::string& exe;
    const char* usage;
  } tools[] = {{kSkinsplit, "USAGE: skinsplit file1 [, file2 [, ...]]\n"},
               {kSkinweld, "USAGE: skinweld file1 [, file2 [, ...]]\n"},
               {kSkinprep, "USAGE: skinprep file1 [, file2 [, ...]]\n"}};
  for (const auto& tool : tools) {
    const RunResult r = run_tool(tool.exe, {}, dir.path(), {"unread input\n"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, tool.usage);
    // Help and version as the only argument: on standard output, no prompt.
    const std::string usage = tool.usage;
    const std::string name = usage.substr(7, usage.find(' ', 7) - 7);
    const RunResult version = run_tool(tool.exe, {"--version"}, dir.path());
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, name + " 1.0\n");
    const RunResult help = run_tool(tool.exe, {"--help"}, dir.path());
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind("Usage: " + name + " ", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("4. skinweld car1"), std::string::npos);
    std::size_t widest = 0;
    for (std::size_t start = 0, end; (end = help.out.find('\n', start)) != std::string::npos;
         start = end + 1)
      widest = std::max(widest, end - start);
    EXPECT_LE(widest, 80u) << "help fits a console";
    EXPECT_EQ(help.err + version.err, "");
    // Options come first, as GNU tools take them: an unknown one is refused
    // with the usage line, and after "--" every word is a name.
    const RunResult unknown = run_tool(tool.exe, {"--colour", "car1"}, dir.path());
    EXPECT_EQ(unknown.exit_code, 2);
    EXPECT_EQ(unknown.err, name + ": unknown option --colour\n" + usage);
    const RunResult named = run_tool(tool.exe, {"--", "--help"}, dir.path());
    EXPECT_EQ(named.exit_code, 1);  // no texture of that name
    EXPECT_NE(named.out.find(kPrompt), std::string::npos) << named.out;
  }
  // Two options that say opposite things are refused, whichever comes first.
  const RunResult both =
      run_tool(kSkinprep, {"--new-palette", "--keep-palette", "car1"}, dir.path());
  EXPECT_EQ(both.exit_code, 2);
  EXPECT_EQ(both.err,
            "skinprep: --keep-palette cannot be given with --new-palette\n"
            "USAGE: skinprep file1 [, file2 [, ...]]\n");
}

TEST(Tools, FailuresStillReachThePromptAndTheExitStatus) {
  TempDir dir;
  for (const std::string& exe : {kSkinsplit, kSkinweld, kSkinprep}) {
    // Standard input holds a line: the tool reads a character and ends.
    const RunResult r = run_tool(exe, {"missing", "-x", ""}, dir.path(), {"\n"});
    EXPECT_EQ(r.exit_code, 1) << exe;
    ASSERT_GE(r.out.size(), kPrompt.size());
    EXPECT_EQ(r.out.substr(r.out.size() - kPrompt.size()), kPrompt) << exe;
  }
}

TEST(Tools, OnATerminalBothStreamsShowInTheOrderOfIssue) {
  TempDir dir;
  // "Checking t.tex..." has no line end, and the refusal after it goes to the
  // other stream: on a terminal the two must still show in that order.
  const Levels levels = {Bytes(16, 1), Bytes(4, 1), Bytes(1, 1)};
  fs::create_directory(dir / "t");
  const TexPalette palette = sample_palette();
  write_file(dir / "t" / "t.pal", make_pal(palette));
  write_file(dir / "t" / "t_h.tga", make_tga8(4, 4, levels.high, palette));
  write_file(dir / "t" / "t_m.tga", make_tga8(2, 2, levels.medium, palette));
  write_file(dir / "t" / "t_l.tga", make_tga8(1, 1, levels.low, palette));
  write_file(dir / "t.tex", make_tex(TexSubtype::truecolour32, 4, 4));
  write_file(dir / "u.tex", {1});
  RunOptions options;
  options.terminal = true;
  const RunResult weld = run_tool(kSkinweld, {"t"}, dir.path(), options);
  EXPECT_NE(weld.out.find("Checking t.tex...\r\nERROR! t.tex has true-colour sub-type 18, "
                          "not replaced!\r\n\r\n**** Press ENTER"),
            std::string::npos)
      << weld.out;
  const RunResult split = run_tool(kSkinsplit, {"u"}, dir.path(), options);
  EXPECT_NE(split.out.find("Processing 1 bytes\r\nERROR! Could not determine X size of input "
                           "file! : Success\r\n\r\n**** Press ENTER"),
            std::string::npos)
      << split.out;
}

namespace {

/// One good texture, one bad and one good again, laid out for a tool.
struct BatchRow {
  const char* name;
  std::string exe;
  std::function<void(const TempDir&)> lay_out;
  std::string error;    ///< the bad texture's one error line, as quiet mode shows it
  std::string written;  ///< the first good texture's line
};

void lay_out_split(const TempDir& dir) {
  write_file(dir / "g.tex", make_tex(TexSubtype::indexed, 4, 4));
  write_file(dir / "h.tex", make_tex(TexSubtype::indexed, 4, 4));
  write_file(dir / "b.tex", {1});
}

void lay_out_weld(const TempDir& dir) {
  const TexPalette palette = sample_palette();
  for (const char* name : {"g", "h"}) {
    fs::create_directory(dir / name);
    const std::string base = name;
    write_file(dir / name / (base + ".pal"), make_pal(palette));
    write_file(dir / name / (base + "_h.tga"), make_tga8(4, 4, Bytes(16, 1), palette));
    write_file(dir / name / (base + "_m.tga"), make_tga8(2, 2, Bytes(4, 1), palette));
    write_file(dir / name / (base + "_l.tga"), make_tga8(1, 1, Bytes(1, 1), palette));
  }
}

void lay_out_prep(const TempDir& dir) {
  fs::create_directory(dir / "tga");
  for (const char* name : {"g", "h"})
    write_file(dir / "tga" / (std::string(name) + ".tga"),
               make_tga8(4, 4, sample_level(4, 4, 1), sample_palette()));
}

std::size_t lines_of(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

/// In a batch or a log: the error stands between the textures' progress,
/// and quiet mode gives one line a texture written and the error alone.
TEST(Tools, InABatchTheLogKeepsItsOrderAndQuietModeSaysOnlyWhatCounts) {
  const BatchRow rows[] = {
      {"skinsplit", kSkinsplit, lay_out_split,
       "b: ERROR! Could not determine X size of input file! : Success\n",
       "g: wrote tga/g.pal and tga/g.tga\n"},
      {"skinweld", kSkinweld, lay_out_weld,
       "b: ERROR! Could not change to image directory! : No such file or directory\n",
       "g: wrote g.tex\n"},
      {"skinprep", kSkinprep, lay_out_prep,
       "b: ERROR! Could not open image tga/b.tga! : No such file or directory\n",
       "g: wrote g/g.pal, g/g_h.tga, g/g_m.tga, g/g_l.tga, g/g_source.png and "
       "g/g_preview.html\n"},
  };
  for (const BatchRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    row.lay_out(dir);
    const RunResult log =
        run_tool("/bin/sh", {"-c", "'" + row.exe + "' g b h > log 2>&1; cat log"}, dir.path());
    const std::size_t error = log.out.find("ERROR!");
    ASSERT_NE(error, std::string::npos) << log.out;
    EXPECT_LT(log.out.find("g"), error);
    EXPECT_LT(error, log.out.rfind(" h")) << log.out;
    EXPECT_EQ(log.out.find("Press ENTER"), log.out.rfind("Press ENTER"));
    TempDir quiet_dir;
    row.lay_out(quiet_dir);
    const RunResult quiet = run_tool(row.exe, {"--quiet", "g", "b", "h"}, quiet_dir.path());
    EXPECT_EQ(quiet.exit_code, 1);
    EXPECT_EQ(quiet.err, row.error);
    EXPECT_EQ(lines_of(quiet.out), 2u + 2u) << quiet.out;  // two textures, and the prompt
    EXPECT_EQ(quiet.out.substr(0, quiet.out.find('\n') + 1), row.written);
    // Run again with nothing to change: nothing to say of the good ones.
    const RunResult again = run_tool(row.exe, {"-q", "g", "h"}, quiet_dir.path());
    EXPECT_EQ(again.out, kPrompt);
  }
}

TEST(Tools, TheWaitIsOnlyWhereSomeoneCanAnswerIt) {
  TempDir dir;
  write_file(dir / "t.tex", make_tex(TexSubtype::indexed, 4, 4));
  // A script's input is never taken: a loop over a list splits every name.
  const RunResult loop = run_tool(
      "/bin/sh",
      {"-c", "printf 't\\nt\\nx\\n' | while read n; do '" + kSkinsplit + "' \"$n\"; done; cat"},
      dir.path(), {"left\n"});
  EXPECT_EQ(std::count(loop.out.begin(), loop.out.end(), '!'), 2 * 2 + 1) << loop.out;
  EXPECT_EQ(loop.out.substr(loop.out.size() - 5), "left\n");
  // At a terminal it waits for ENTER; not with --no-pause, nor when its
  // output goes to a file.
  const auto timed = [&](const std::string& exe, const std::vector<std::string>& args) {
    RunOptions options;
    options.terminal = true;
    options.terminal_input = true;
    options.stdin_text = "\n";
    options.type_after_ms = 1500;
    const auto started = std::chrono::steady_clock::now();
    run_tool(exe, args, dir.path(), options);
    return std::chrono::steady_clock::now() - started;
  };
  EXPECT_GE(timed(kSkinsplit, {"t"}), std::chrono::milliseconds(1500));
  EXPECT_LT(timed(kSkinsplit, {"--no-pause", "t"}), std::chrono::milliseconds(1200));
  EXPECT_LT(timed("/bin/sh", {"-c", "'" + kSkinsplit + "' t > log"}),
            std::chrono::milliseconds(1200));
  EXPECT_EQ(run_tool(kSkinsplit, {"-h"}, dir.path()).out.rfind("Usage: skinsplit ", 0), 0u);
}
