#include "prep/prepare_texture.h"
#include "shell/driver.h"

namespace {

constexpr ToolOption kOptions[] = {
    {"--keep-palette",
     "never remake the palette: new colours take their nearest\n"
     "                   entries, dithered among themselves; nothing else changes.\n"
     "                   For small touch-ups, and for a palette other textures share",
     kKeepPalette, kNewPalette},
    {"--new-palette",
     "reduce the whole picture afresh (see-through colours, and\n"
     "                   one entry of each alpha untouched pixels show, keep\n"
     "                   theirs). For a total repaint. Without either, skinprep\n"
     "                   remakes as much of the palette as changes least of what\n"
     "                   you did not touch",
     kNewPalette, kKeepPalette},
};

}  // namespace

int main(int argc, char** argv) {
  const Tool tool = {
      "skinprep", "USAGE: skinprep file1 [, file2 [, ...]]\n",
      "Makes the directory NAME/ that skinweld reads (NAME.pal and the levels\n"
      "NAME_h.tga, NAME_m.tga, NAME_l.tga) from the edited image tga/NAME.tga or\n"
      "tga/NAME.png, keeping the texture's palette and indices wherever the picture\n"
      "did not change. When the new colours do not fit, as much of the palette is\n"
      "remade as gives the least error, changes where the edit did not paint\n"
      "counting most. NAME/NAME_preview.html shows the result in a browser.\n",
      prepare_texture, kOptions};
  return run_driver(argc, argv, tool);
}
