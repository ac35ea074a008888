#include "shell/driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "files/errno_guard.h"
#include "files/interrupts.h"
#include "shell/report.h"

#ifdef __MINGW32__
// Windows' command prompt hands "*.tex" over unexpanded; this asks the C
// runtime to expand wildcard arguments before main, as a Unix shell does.
// Every tool links this file for run_driver, so every tool gets it.
extern "C" {
int _dowildcard = -1;  // NOLINT: the C runtime's own name
}
#endif

namespace {

/// The four steps every tool's help ends with.
constexpr const char* kEditingLoop =
    "\nThe editing loop:\n"
    "  1. skinsplit car1.tex   writes tga/car1.tga (and tga/car1.pal)\n"
    "  2. edit tga/car1.tga in any paint program and save it in place\n"
    "  3. skinprep car1        makes car1/ with the palette and three levels\n"
    "  4. skinweld car1        welds car1/ into car1.tex\n"
    "The manual page and the README say more.\n";

void print_help(const Tool& tool) {
  print_progress("Usage: %s %sTEXTURE...\n%s", tool.name,
                 tool.options.empty() ? "" : "[OPTION]... ", tool.help);
  if (!tool.options.empty()) print_progress("\nOptions:\n");
  for (const ToolOption& option : tool.options)
    print_progress("  %-16s %s\n", option.name, option.help);
  print_progress("%s", kEditingLoop);
}

/// What the options before the names asked for.
enum class Options { names_follow, answered, refused };

/// What the options before the names gave: the flags of the tool's own, and
/// where the names begin.
struct TakenOptions {
  int first = 1;
  unsigned given = 0;
};

/// Takes the options before the names.
Options take_options(int argc, char** argv, const Tool& tool, TakenOptions& taken) {
  int& first = taken.first;
  unsigned& given = taken.given;
  for (first = 1; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
    const char* option = argv[first];
    if (std::strcmp(option, "--") == 0) {
      ++first;
      break;
    }
    if (std::strcmp(option, "--version") == 0) {
      print_progress("%s %s\n", tool.name, SKIN_VERSION);
      return Options::answered;
    }
    if (std::strcmp(option, "--help") == 0) {
      print_help(tool);
      return Options::answered;
    }
    const auto known =
        std::find_if(tool.options.begin(), tool.options.end(),
                     [&](const ToolOption& o) { return std::strcmp(o.name, option) == 0; });
    if (known == tool.options.end()) {
      print_error("%s: unknown option %s\n%s", tool.name, option, tool.usage_line);
      return Options::refused;
    }
    if ((given & known->excludes) != 0) {
      const auto other = std::find_if(
          tool.options.begin(), tool.options.end(),
          [&](const ToolOption& o) { return (o.flag & given & known->excludes) != 0; });
      print_error("%s: %s cannot be given with %s\n%s", tool.name, option, other->name,
                  tool.usage_line);
      return Options::refused;
    }
    given |= known->flag;
  }
  return Options::names_follow;
}

}  // namespace

int run_driver(int argc, char** argv, const Tool& tool) {
  TakenOptions taken;
  switch (take_options(argc, argv, tool, taken)) {
    case Options::answered:
      return kExitAllConverted;
    case Options::refused:
      return kExitUsage;
    case Options::names_follow:
      break;
  }
  const int first = taken.first;
  if (first >= argc) {
    print_error("%s", tool.usage_line);
    return kExitUsage;
  }
  prepare_for_interrupts();
  const StartDirectory start;
  const ToolRun run = {start, taken.given};
  bool all_converted = true;
  for (int i = first; i < argc; ++i) {
    if (!tool.procedure(argv[i], run)) all_converted = false;
    // A start directory that cannot be entered again leaves the next argument
    // where this one ended; a relative name is then simply not found.
    ErrnoGuard keep_errno;
    (void)start.go_back();
  }
  print_progress("\n**** Press ENTER to continue ****\n");
  // One character ends the wait; at end of input this returns at once.
  (void)std::getchar();
  return all_converted ? kExitAllConverted : kExitSomeFailed;
}
