#include <gtest/gtest.h>

#include "support/tools.h"

TEST(Tools, WithoutNamesEachPrintsItsOwnUsageLineAndExitsWithTwo) {
  TempDir dir;
  const struct {
    const std::string& exe;
    const char* usage;
  } tools[] = {{kSkinsplit, "USAGE: skinsplit file1 [, file2 [, ...]]\n"},
               {kSkinweld, "USAGE: skinweld file1 [, file2 [, ...]]\n"}};
  for (const auto& tool : tools) {
    const RunResult r = run_tool(tool.exe, {}, dir.path(), {"unread input\n"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, tool.usage);
  }
}

TEST(Tools, FailuresStillReachThePromptAndTheExitStatus) {
  TempDir dir;
  for (const std::string& exe : {kSkinsplit, kSkinweld}) {
    // Standard input holds a line: the tool reads a character and ends.
    const RunResult r = run_tool(exe, {"missing", "-x", ""}, dir.path(), {"\n"});
    EXPECT_EQ(r.exit_code, 1) << exe;
    ASSERT_GE(r.out.size(), kPrompt.size());
    EXPECT_EQ(r.out.substr(r.out.size() - kPrompt.size()), kPrompt) << exe;
  }
}
