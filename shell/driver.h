#pragma once

/// The per-texture work of one tool: takes the writable argument text (which it
/// may overwrite), reports its own progress and failures, and says whether the
/// texture was converted.
using TextureProcedure = bool (*)(char* argument);

/// Exit statuses of both tools.
inline constexpr int kExitAllConverted = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;

/// Runs a tool: the usage line when no texture is named; otherwise the procedure
/// for every argument in order, each from the directory the tool started in,
/// then the closing prompt and one character read from standard input.
int run_driver(int argc, char** argv, const char* usage_line, TextureProcedure procedure);

/// Makes the directory (and drive) the tool started in current again, for a
/// procedure that must come back out of a directory it entered. False, with
/// the error number of the failure, when that is not possible.
bool return_to_start_directory();
