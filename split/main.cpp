#include "shell/driver.h"
#include "split/split_texture.h"

namespace {

constexpr ToolOption kOptions[] = {
    {"--force",
     "split anew over an edit in progress (a picture or palette\n"
     "                   file skinsplit did not write), keeping it as NAME~N first",
     kForce},
};

}  // namespace

int main(int argc, char** argv) {
  const Tool tool = {
      "skinsplit", "USAGE: skinsplit file1 [, file2 [, ...]]\n",
      "Writes each TEX texture's picture as tga/NAME.tga beside it, and a paletted\n"
      "texture's palette as tga/NAME.pal, for any paint program. A picture or\n"
      "palette file there that it did not write (an edit in progress) is left as it\n"
      "is, and the texture is not split, unless --force is given.\n",
      split_texture, kOptions};
  return run_driver(argc, argv, tool);
}
