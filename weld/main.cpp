#include "shell/driver.h"
#include "weld/build_texture.h"

int main(int argc, char** argv) {
  const Tool tool = {"skinweld", "USAGE: skinweld file1 [, file2 [, ...]]\n",
                     "Welds the palette NAME/NAME.pal and the levels NAME/NAME_h.tga, NAME_m.tga\n"
                     "and NAME_l.tga into the texture NAME.tex beside the directory, keeping the\n"
                     "header of the texture it replaces.\n",
                     build_texture};
  return run_driver(argc, argv, tool);
}
