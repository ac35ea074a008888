#include "shell/driver.h"

#include <cstdio>
#include <cstring>

#include "files/errno_guard.h"
#include "files/output_file.h"
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

/// Answers "--help" or "--version" given as the only argument; any other
/// argument is a texture name.
bool answer_question(int argc, char** argv, const Tool& tool) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--version") == 0) {
    print_progress("%s %s\n", tool.name, SKIN_VERSION);
    return true;
  }
  if (std::strcmp(argv[1], "--help") == 0) {
    print_progress("Usage: %s TEXTURE...\n%s%s", tool.name, tool.help, kEditingLoop);
    return true;
  }
  return false;
}

}  // namespace

int run_driver(int argc, char** argv, const Tool& tool) {
  if (argc < 2) {
    print_error("%s", tool.usage_line);
    return kExitUsage;
  }
  if (answer_question(argc, argv, tool)) return kExitAllConverted;
  prepare_for_interrupts();
  const StartDirectory start;
  bool all_converted = true;
  for (int i = 1; i < argc; ++i) {
    if (!tool.procedure(argv[i], start)) all_converted = false;
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
