#include "weld/build_texture.h"

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "files/input_file.h"
#include "files/texture_lock.h"
#include "formats/png.h"
#include "formats/tex.h"
#include "formats/tex_tga.h"
#include "formats/tga.h"
#include "shell/edited_image.h"
#include "shell/messages.h"
#include "shell/outputs.h"
#include "shell/prep_memory.h"
#include "shell/report.h"
#include "shell/steps.h"
#include "shell/texture_path.h"
#include "shell/texture_sets.h"
#include "weld/weld_warnings.h"

namespace {

/// The fixed work area, sized for the largest texture accepted (512 × 512).
/// Each level is kept as its pixel bytes in the order they go to the TEX file.
struct WeldWorkArea {
  TexPalette palette;
  TexLevels levels;
};
WeldWorkArea work;

/// What skinweld says of each level of detail, high first.
struct LevelWords {
  const char* open_failure;
  const char* reading_text;
  const char* saving_text;
};
constexpr std::array<LevelWords, kTexLevelCount> kLevelWords = {{
    {"ERROR! Could not open high LOD image! ", "Reading data for high quality image...",
     "Saving high LOD..."},
    {"ERROR! Could not open medium LOD image! ", "Reading data for medium quality image...",
     "Saving medium LOD..."},
    {"ERROR! Could not open low LOD image! ", "Reading data for low quality image...",
     "Saving low LOD..."},
}};

/// Enters the image directory: the directory named after the texture (in
/// any case), in the directory the argument names.
bool enter_image_directory(const TexturePath& path, std::string& image_directory) {
  if (!enter_texture_drive(path)) return false;
  std::string found = path.directory + image_directory;
  if (!resolve_names({&found})) return false;
  image_directory = found.substr(path.directory.size());
  return enter_existing_directory(found, found, "ERROR! Could not change to image directory! ");
}

/// Comes back out of the image directory the way it was entered: from where
/// the tool started, into the texture's directory. Going up with ".." would
/// follow an image directory that is a symbolic link to wherever it points.
bool return_to_texture_directory(const TexturePath& path, const StartDirectory& start) {
  if (!start.go_back()) {
    print_system_error(kEnterTextureDirectoryFailed);
    return false;
  }
  return enter_texture_directory(path);
}

/// Takes level n's image when its size is right: at most 512 for the high
/// level, exactly the high size divided for the others; and only an 8-bit
/// colour-mapped or grey one. Returns the bytes a pixel has: 1, or 0 when refused.
unsigned check_level(std::size_t n, const TgaHeader& image, const TgaHeader& high) {
  if (n == 0) {
    if (!check_image_fits(image)) return 0;
  } else if (const TexSize size = tex_level_size(high.width, high.height, n);
             image.width != size.x || image.height != size.y) {
    print_error("ERROR! Image not correct size!\n");
    return 0;
  }
  // Taking the bytes of a true-colour image as indices would write a garbage
  // texture over a good one.
  const bool indexed_type = tga_is_colour_mapped(image.image_type) || tga_is_grey(image.image_type);
  if (image.pixel_depth != 8 || !indexed_type) {
    print_error("ERROR! Image is not an 8-bit colour-mapped or grey-scale image!\n");
    return 0;
  }
  return 1;
}

/// Reads level n's image into its buffer; high is the high level's header,
/// which reading level 0 fills in.
bool read_level_image(const TextureFiles& files, std::size_t n, TgaHeader& high) {
  const std::string& name = files.levels[n];
  print_progress("Opening %s...", name.c_str());
  const InputFile file = open_input(name.c_str());
  if (!file) {
    print_progress("not found.\n");
    print_system_error(kLevelWords[n].open_failure);
    return false;
  }
  TgaImage image;
  const auto check = [&](const TgaHeader& header) { return check_level(n, header, high); };
  const std::span<unsigned char> buffer =
      tex_level(work.levels, n, kTexMaxDimension, kTexMaxDimension);
  image.pixels = buffer;
  if (!read_tga_image(file.get(), kLevelWords[n].reading_text, check, image)) return false;
  print_progress("done!\n");
  if (n == 0) high = image.header;
  // The palette file wins; a paint program that reordered or pruned the map
  // would otherwise change the texture's colours without a word. Maps of 15
  // or 16 bits cannot hold the palette's colours exactly, so they are not
  // compared.
  const TgaHeader& h = image.header;
  const bool comparable = h.colour_map_entry_size == 24 || h.colour_map_entry_size == 32;
  const auto pixels = buffer.first(std::size_t{h.width} * h.height);
  if (comparable && tga_colours_differ(image.map, pixels, work.palette)) {
    print_error("WARNING! Colours of %s differ from %s; the palette file's colours are used.\n",
                name.c_str(), files.level_palette.c_str());
  }
  return true;
}

bool read_level_images(const TextureFiles& files, TexHeader& header) {
  TgaHeader high;
  for (std::size_t n = 0; n < kTexLevelCount; ++n) {
    if (!read_level_image(files, n, high)) return false;
  }
  header.x_size = high.width;
  header.y_size = high.height;
  return true;
}

/// Takes bytes 4 to 13 of the TEX file being replaced, or the default tail.
bool take_header_tail(const std::string& tex_name, TexTail& tail, OldTexFile& old) {
  print_progress("Checking %s...", tex_name.c_str());
  InputFile file;
  // A file that is there but cannot be read still holds a sub-type and
  // header bytes that the default tail would lose. What is no file (a FIFO
  // would be waited on for ever) cannot be replaced either.
  if (!open_regular_if_present(tex_name, file, old.found, kOpenTexFailed)) return false;
  if (!old.found) {
    print_progress("not found.  Creating new TEX file...");
    tail = kTexDefaultTail;
    return true;
  }
  old.has_size = read_tex_dimensions(file.get(), old.x, old.y) == TexDimensionsResult::ok;
  long length = 0;
  old.whole = old.has_size && measure_file_length(file.get(), length) == LengthResult::ok &&
              static_cast<std::uint64_t>(length) >= tex_written_length(old.x, old.y);
  if (std::fseek(file.get(), kTexTailOffset, SEEK_SET) != 0) {
    print_system_error("ERROR! Could not find start of TEX file! ");
    return false;
  }
  if (!read_record(file.get(), tail)) {
    print_progress("could not determine sub-type, assuming CAR.");
    tail = kTexDefaultTail;
    return true;
  }
  // Indices written under a true-colour header would be garbage.
  if (tex_is_true_colour(static_cast<TexSubtype>(tail[0]))) {
    print_error("\nERROR! %s has true-colour sub-type %d, not replaced!\n", tex_name.c_str(),
                static_cast<int>(tail[0]));
    return false;
  }
  return true;
}

/// Writes the TEX file whole, or leaves the old one exactly as it was, and
/// gives the checksum of its bytes. A whole texture of another size is kept
/// as NAME~N first: it cannot be made again from the new levels.
bool write_texture(const std::string& tex_name, const TexHeader& header, const OldTexFile& old,
                   std::uint32_t& checksum) {
  const bool keep = old.whole && (old.x != header.x_size || old.y != header.y_size);
  SetOutput output{tex_name, {}, keep};
  const SaveWords words = {"",       "failed.\n",      "ERROR!  Could not create TEX file ",
                           tex_name, kWriteDataFailed, false};
  const bool saved = save_output(output, words, [&](ByteBuffer& bytes) {
    print_progress("Writing %s...\n", tex_name.c_str());
    write_tex_header(bytes, header);
    print_progress("writing palette in BGRA format...");
    write_tex_palette(bytes, work.palette);
    print_progress("done!\n");
    for (std::size_t n = 0; n < kTexLevelCount; ++n) {
      print_progress("%s", kLevelWords[n].saving_text);
      write_tex_level(bytes, tex_level(work.levels, n, header.x_size, header.y_size));
      if (n + 1 < kTexLevelCount) print_progress("done!\n");
    }
    checksum = crc32_of(bytes);
    return true;
  });
  // The file is written in one piece (unless it holds these bytes already)
  // and put in place before the last "done!".
  SetOutput* const set[] = {&output};
  if (!saved || !put_set_in_place(set, "", "")) return false;
  print_progress("done!\n");
  return true;
}

}  // namespace

bool build_texture(const char* argument, const ToolRun& run) {
  TextureName name = read_texture_name(argument, ToolKind::weld);
  TextureFiles& files = name.files;
  LockedTexture lock;
  if (!lock_texture(lock, name.path.drive + name.path.directory, name, ToolKind::weld))
    return false;

  if (!enter_image_directory(name.path, files.image_directory)) return false;
  TexHeader header;
  bool found = false;
  std::array<std::string, kTexLevelCount>& levels = files.levels;
  if (!resolve_names({&files.level_palette, levels.data(), &levels[1], &levels[2]}) ||
      !read_palette_file(files.level_palette, true, work.palette, found) ||
      !read_level_images(files, header))
    return false;
  // The TEX file lies beside the image directory.
  if (!return_to_texture_directory(name.path, run.start) || !resolve_names({&files.tex}))
    return false;
  OldTexFile old;
  std::uint32_t checksum = 0;
  if (!take_header_tail(files.tex, header.tail, old) ||
      !write_texture(files.tex, header, old, checksum))
    return false;
  warn_of_surprises(
      name,
      {header, work.palette, tex_level(work.levels, 0, header.x_size, header.y_size), checksum},
      old, *lock.split_names);
  return true;
}
