#include "prep/prepare_texture.h"
#include "shell/driver.h"

int main(int argc, char** argv) {
  const Tool tool = {
      "skinprep", "USAGE: skinprep file1 [, file2 [, ...]]\n",
      "Makes the directory NAME/ that skinweld reads (NAME.pal and the levels\n"
      "NAME_h.tga, NAME_m.tga, NAME_l.tga) from the edited image tga/NAME.tga or\n"
      "tga/NAME.png, keeping the texture's palette and indices wherever the picture\n"
      "did not change.\n",
      prepare_texture};
  return run_driver(argc, argv, tool);
}
