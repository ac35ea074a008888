#include "shell/driver.h"
#include "weld/build_texture.h"

int main(int argc, char** argv) {
  return run_driver(argc, argv, "USAGE: skinweld file1 [, file2 [, ...]]\n", build_texture);
}
