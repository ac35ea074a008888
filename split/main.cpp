#include "shell/driver.h"
#include "split/split_texture.h"

int main(int argc, char** argv) {
  const Tool tool = {"skinsplit", "USAGE: skinsplit file1 [, file2 [, ...]]\n",
                     "Writes each TEX texture's picture as tga/NAME.tga beside it, and a paletted\n"
                     "texture's palette as tga/NAME.pal, for any paint program. An image that was\n"
                     "edited since is kept as tga/NAME~1.tga (~2, ...) before it is replaced.\n",
                     split_texture};
  return run_driver(argc, argv, tool);
}
