// Makes sample files for the demo and the benchmarks:
//   texgen tex SUBTYPE X Y OUT.tex      a test-pattern TEX texture
//   texgen shrink IN.tga DIVISOR OUT.tga  a half or quarter size copy of an 8-bit image
//   texgen repaint X Y OUT.tga          a 32-bit gradient with a translucent part
//   texgen seeds DIR                    the seed inputs of the fuzz targets
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "support/samples.h"

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "tex" && argc == 6) {
      const auto subtype = static_cast<TexSubtype>(std::atoi(argv[2]));
      write_file(argv[5], make_tex(subtype, std::stoul(argv[3]), std::stoul(argv[4])));
      return 0;
    }
    if (command == "shrink" && argc == 5) {
      write_file(argv[4], shrink_tga8(read_file(argv[2]), std::stoul(argv[3])));
      return 0;
    }
    if (command == "repaint" && argc == 5) {
      const unsigned x = std::stoul(argv[2]);
      const unsigned y = std::stoul(argv[3]);
      write_file(argv[4], make_tga_colours(x, y, repaint_colours(x, y), 32, {2, 0, "", false}));
      return 0;
    }
    if (command == "seeds" && argc == 3) {
      write_fuzz_seeds(argv[2]);
      return 0;
    }
    std::fprintf(stderr,
                 "usage: texgen tex SUBTYPE X Y OUT.tex\n"
                 "       texgen shrink IN.tga DIVISOR OUT.tga\n"
                 "       texgen repaint X Y OUT.tga\n"
                 "       texgen seeds DIR\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "texgen: %s\n", e.what());
  }
  return 2;
}
