#pragma once

#include <span>

#include "files/start_directory.h"

/// What every texture of one run shares: the directory the tool started in
/// (for a procedure that must come back out of a directory it entered), and
/// the flags of the tool's own options that were given.
struct ToolRun {
  const StartDirectory& start;
  unsigned options = 0;
};

/// The per-texture work of one tool: takes the argument text and the run,
/// reports its own progress and failures, and says whether the texture was
/// converted.
using TextureProcedure = bool (*)(const char* argument, const ToolRun& run);

/// Exit statuses of every tool.
inline constexpr int kExitAllConverted = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;

/// An option a tool takes before the texture names.
struct ToolOption {
  const char* name;       ///< "--keep-palette"
  const char* help;       ///< what it does, for --help
  unsigned flag;          ///< its bit in ToolRun::options
  unsigned excludes = 0;  ///< the flags of the options it cannot be given with
};

/// What makes one tool of the driver.
struct Tool {
  const char* name;        ///< "skinsplit"
  const char* usage_line;  ///< printed when no texture is named
  const char* help;        ///< what --help says the tool does, before the editing loop
  TextureProcedure procedure;
  std::span<const ToolOption> options = {};
};

/// Runs a tool. Options come first, as GNU tools take them: "--help" or
/// "--version" answers and ends, a tool's own option is taken, "--" ends
/// the options, and an unknown one is refused with the usage line. Then the
/// usage line when no texture is named; otherwise the procedure for every
/// name in order, each from the directory the tool started in, then the
/// closing prompt and one character read from standard input.
int run_driver(int argc, char** argv, const Tool& tool);
