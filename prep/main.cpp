#include "prep/prepare_texture.h"
#include "shell/driver.h"

#ifdef __MINGW32__
// Windows' command prompt hands "*.tex" over unexpanded; this asks the C
// runtime to expand wildcard arguments before main, as a Unix shell does.
extern "C" {
int _dowildcard = -1;
}
#endif

int main(int argc, char** argv) {
  return run_driver(argc, argv, "USAGE: skinprep file1 [, file2 [, ...]]\n", prepare_texture);
}
