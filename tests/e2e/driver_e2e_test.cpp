#include <gtest/gtest.h>

#include <filesystem>

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
