#include "shell/driver.h"
#include "split/split_texture.h"

int main(int argc, char** argv) {
  return run_driver(argc, argv, "USAGE: skinsplit file1 [, file2 [, ...]]\n", split_texture);
}
