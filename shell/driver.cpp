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

/// The options every tool takes, for --help.
constexpr const char* kCommonOptions =
    "  -h, --help       print this help and end\n"
    "  --version        print the version and end\n"
    "  -q, --quiet      no progress: one line a texture with what was written,\n"
    "                   every warning and error on standard error\n"
    "  --no-pause       end without waiting for ENTER, also on a terminal\n"
    "                   (the tool waits only where a user can answer it)\n";

void print_help(const Tool& tool) {
  print_progress("Usage: %s [OPTION]... TEXTURE...\n%s\nOptions:\n", tool.name, tool.help);
  for (const ToolOption& option : tool.options)
    print_progress("  %-16s %s\n", option.name, option.help);
  print_progress("%s%s", kCommonOptions, kEditingLoop);
}

/// What the options before the names asked for.
enum class Options { names_follow, answered, refused };

/// What the options before the names gave: the flags of the tool's own,
/// those of the driver, and where the names begin.
struct TakenOptions {
  int first = 1;
  unsigned given = 0;
  bool quiet = false;
  bool no_pause = false;
};

/// Whether an argument is an option: "--" and more, or one of the two
/// single-dash ones. Any other argument is a name, a dash and all.
bool is_option(const char* argument) {
  return std::strncmp(argument, "--", 2) == 0 || std::strcmp(argument, "-h") == 0 ||
         std::strcmp(argument, "-q") == 0;
}

/// Takes one of the tool's own options into taken, refusing one that
/// cannot be given with another given before it.
Options take_tool_option(const char* option, const Tool& tool, TakenOptions& taken) {
  const auto known =
      std::find_if(tool.options.begin(), tool.options.end(),
                   [&](const ToolOption& o) { return std::strcmp(o.name, option) == 0; });
  if (known == tool.options.end()) {
    print_error("%s: unknown option %s\n%s", tool.name, option, tool.usage_line);
    return Options::refused;
  }
  if ((taken.given & known->excludes) != 0) {
    const auto other = std::find_if(
        tool.options.begin(), tool.options.end(),
        [&](const ToolOption& o) { return (o.flag & taken.given & known->excludes) != 0; });
    print_error("%s: %s cannot be given with %s\n%s", tool.name, option, other->name,
                tool.usage_line);
    return Options::refused;
  }
  taken.given |= known->flag;
  return Options::names_follow;
}

/// Takes the options before the names.
Options take_options(int argc, char** argv, const Tool& tool, TakenOptions& taken) {
  for (taken.first = 1; taken.first < argc && is_option(argv[taken.first]); ++taken.first) {
    const char* option = argv[taken.first];
    if (std::strcmp(option, "--") == 0) {
      ++taken.first;
      break;
    }
    if (std::strcmp(option, "--version") == 0) {
      print_progress("%s %s\n", tool.name, SKIN_VERSION);
      return Options::answered;
    }
    if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
      print_help(tool);
      return Options::answered;
    }
    if (std::strcmp(option, "--quiet") == 0 || std::strcmp(option, "-q") == 0) {
      taken.quiet = true;
    } else if (std::strcmp(option, "--no-pause") == 0) {
      taken.no_pause = true;
    } else if (take_tool_option(option, tool, taken) == Options::refused) {
      return Options::refused;
    }
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
  if (taken.first >= argc) {
    print_error("%s", tool.usage_line);
    return kExitUsage;
  }
  set_quiet(taken.quiet);
  prepare_for_interrupts();
  const StartDirectory start;
  const ToolRun run = {start, taken.given};
  bool all_converted = true;
  for (int i = taken.first; i < argc; ++i) {
    begin_texture(argv[i]);
    note_interrupted_texture(argv[i]);
    const bool converted = tool.procedure(argv[i], run);
    if (converted) print_texture_result();
    all_converted = all_converted && converted;
    // A start directory that cannot be entered again leaves the next argument
    // where this one ended; a relative name is then simply not found.
    ErrnoGuard keep_errno;
    (void)start.go_back();
  }
  print_prompt("\n**** Press ENTER to continue ****\n");
  // Only a user at a terminal can answer the prompt: a script's or a pipe's
  // input is never taken from it, and a tool whose output goes elsewhere
  // does not wait unseen.
  if (!taken.no_pause && console_is_interactive()) (void)std::getchar();
  return all_converted ? kExitAllConverted : kExitSomeFailed;
}
