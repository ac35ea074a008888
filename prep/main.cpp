#include "prep/prepare_texture.h"
#include "shell/driver.h"

int main(int argc, char** argv) {
  return run_driver(argc, argv, "USAGE: skinprep file1 [, file2 [, ...]]\n", prepare_texture);
}
