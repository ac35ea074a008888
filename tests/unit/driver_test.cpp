#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "capture.h"
#include "shell/driver.h"
#include "shell/report.h"

namespace {

// What the fake per-texture procedure saw, call by call.
struct Call {
  std::string name;
  std::filesystem::path directory;
  int error_number;
};
std::vector<Call> calls;

/// Fails for names starting with "bad", wanders off to the root directory and
/// leaves an error number behind, as a real procedure may.
bool fake_procedure(const char* argument, const ToolRun& /*run*/) {
  calls.push_back({argument, std::filesystem::current_path(), errno});
  print_progress("<%s>", argument);
  if (chdir("/") != 0) return false;
  errno = EACCES;
  return std::string(argument).rfind("bad", 0) != 0;
}

int run(std::vector<std::string> args, CapturedConsole& console) {
  calls.clear();
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  const Tool tool = {"tool", "USAGE: tool file1\n", "Does a thing.\n", fake_procedure};
  const int status = run_driver(static_cast<int>(argv.size()), argv.data(), tool);
  console.finish();
  return status;
}

}  // namespace

TEST(Driver, WithoutNamesPrintsTheUsageLineOnlyAndCallsNothing) {
  CapturedConsole console;
  EXPECT_EQ(run({"tool"}, console), kExitUsage);
  EXPECT_EQ(console.err_text, "USAGE: tool file1\n");
  EXPECT_EQ(console.out_text, "");
  EXPECT_TRUE(calls.empty());
}

TEST(Driver, CallsEveryNameInOrderThenPrompts) {
  CapturedConsole console;
  EXPECT_EQ(run({"tool", "a", "-b", "", "a"}, console), kExitAllConverted);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].name, "a");
  EXPECT_EQ(calls[1].name, "-b");
  EXPECT_EQ(calls[2].name, "");
  EXPECT_EQ(calls[3].name, "a");
  EXPECT_EQ(console.out_text, "<a><-b><><a>\n**** Press ENTER to continue ****\n");
  EXPECT_EQ(console.err_text, "");
}

TEST(Driver, AFailureDoesNotStopTheLoopButSetsTheExitStatus) {
  CapturedConsole console;
  EXPECT_EQ(run({"tool", "bad1", "good", "bad2"}, console), kExitSomeFailed);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].name, "bad2");
  EXPECT_EQ(console.out_text, "<bad1><good><bad2>\n**** Press ENTER to continue ****\n");
}

TEST(Driver, EveryNameStartsInTheStartDirectoryWithTheErrorNumberLeftAsItWas) {
  const std::filesystem::path start = std::filesystem::current_path();
  CapturedConsole console;
  errno = 0;
  run({"tool", "one", "two"}, console);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].directory, start);
  EXPECT_EQ(calls[1].directory, start);
  EXPECT_EQ(calls[0].error_number, 0);
  // Nothing clears what the first call left, not even the return to the start.
  EXPECT_EQ(calls[1].error_number, EACCES);
  EXPECT_EQ(std::filesystem::current_path(), start);
}
