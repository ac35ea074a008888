#include "shell/driver.h"

#include <cstdio>

#include "files/errno_guard.h"
#include "shell/report.h"

#ifdef __MINGW32__
// Windows' command prompt hands "*.tex" over unexpanded; this asks the C
// runtime to expand wildcard arguments before main, as a Unix shell does.
// Every tool links this file for run_driver, so every tool gets it.
extern "C" {
int _dowildcard = -1;  // NOLINT: the C runtime's own name
}
#endif

int run_driver(int argc, char** argv, const char* usage_line, TextureProcedure procedure) {
  if (argc < 2) {
    print_error("%s", usage_line);
    return kExitUsage;
  }
  const StartDirectory start;
  bool all_converted = true;
  for (int i = 1; i < argc; ++i) {
    if (!procedure(argv[i], start)) all_converted = false;
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
