#include "shell/driver.h"
#include "split/split_texture.h"

namespace {

constexpr ToolOption kOptions[] = {
    {"--force",
     "split anew over an edit in progress (a picture or palette\n"
     "                   file skinsplit did not write), keeping it as NAME~N first",
     kForce},
    {"--png",
     "write the picture as tga/NAME.png, in which paint programs\n"
     "                   show the see-through and translucent parts as the game does",
     kPng},
};

}  // namespace

int main(int argc, char** argv) {
  const Tool tool = {"skinsplit", "USAGE: skinsplit file1 [, file2 [, ...]]\n",
                     "Writes each TEX texture's picture as tga/NAME.tga (or with --png\n"
                     "tga/NAME.png) beside it, and a paletted texture's palette as tga/NAME.pal,\n"
                     "for any paint program. A picture or palette file there that it did not\n"
                     "write (an edit in progress) is left as it is, and the texture is not split,\n"
                     "unless --force is given.\n",
                     split_texture, kOptions};
  return run_driver(argc, argv, tool);
}
