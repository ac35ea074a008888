#include "split/split_texture.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "files/input_file.h"
#include "files/texture_lock.h"
#include "formats/pal.h"
#include "formats/tex.h"
#include "formats/tex_tga.h"
#include "formats/tga.h"
#include "shell/messages.h"
#include "shell/outputs.h"
#include "shell/report.h"
#include "shell/steps.h"
#include "shell/texture_path.h"
#include "shell/texture_sets.h"

namespace {

/// The fixed work area: the largest texture accepted is 256 × 256 pixels of up
/// to four bytes. The high level is kept pixel after pixel in file order.
struct SplitWorkArea {
  TexPalette palette;
  std::array<unsigned char, kTexMaxSplitDimension * kTexMaxSplitDimension * 4> pixels;
};
SplitWorkArea work;

/// The sub-type has no message of its own; existing users know the Y size's.
constexpr const char* kYSizeFailed = "ERROR! Could not determine Y size of input file! ";

bool measure_length(std::FILE* file, long& length) {
  switch (measure_file_length(file, length)) {
    case LengthResult::end_not_found:
      print_system_error("ERROR! Could not find end of input file! ");
      return false;
    case LengthResult::length_unknown:
      print_system_error("ERROR! Could not determine length of input file! ");
      return false;
    case LengthResult::start_not_found:
      print_system_error("ERROR! Could not find start of input file! ");
      return false;
    case LengthResult::ok:
      break;
  }
  print_progress("\nProcessing %ld bytes\n", length);
  return true;
}

bool read_dimensions(std::FILE* file, long length, TextureFacts& facts) {
  switch (read_tex_dimensions(file, facts.x, facts.y)) {
    case TexDimensionsResult::x_missing:
      print_system_error("ERROR! Could not determine X size of input file! ");
      return false;
    case TexDimensionsResult::y_missing:
      print_system_error(kYSizeFailed);
      return false;
    case TexDimensionsResult::ok:
      break;
  }
  print_progress("Dimensions of main image = %dx%d\n", facts.x, facts.y);
  if (facts.x > kTexMaxSplitDimension || facts.y > kTexMaxSplitDimension) {
    // The misspelling is the message's own, which users and their scripts know.
    print_error("ERROR! Image exeeds maximum size!\n");
    return false;
  }
  if (static_cast<std::uint64_t>(length) < tex_written_length(facts.x, facts.y)) {
    print_error("ERROR! Invalid input file, too short!\n");
    return false;
  }
  return true;
}

bool read_subtype(std::FILE* file, TextureFacts& facts) {
  const std::optional<TexSubtype> subtype = read_tex_subtype(file);
  if (!subtype) {
    print_system_error(kYSizeFailed);
    return false;
  }
  if (tex_bytes_per_pixel(*subtype) == 0) {
    print_error("\n\nERROR!  Unsupported TEX subtype - %d\n\n", static_cast<int>(*subtype));
    return false;
  }
  facts.subtype = *subtype;
  return true;
}

bool report_pixel_read(ReadResult result, const char* read_error_message) {
  return report_read(result, read_error_message, on_own_line(kReadPastEnd));
}

bool read_palette_and_pixels(std::FILE* file, TextureFacts& facts) {
  if (std::fseek(file, kTexPaletteOffset, SEEK_SET) != 0) {
    print_system_error("ERROR! Could not find start of palette! ");
    return false;
  }
  if (tex_is_paletted(facts.subtype)) {
    print_progress("Reading data for palette...\n");
    // The length check makes end of file impossible here unless the file
    // shrinks while it is read; that is still reported, never ignored.
    if (!report_pixel_read(read_tex_palette(file, work.palette), "ERROR! Could not read palette! "))
      return false;
  }
  print_progress("Reading data for high quality image...\n");
  const std::size_t size = std::size_t{facts.x} * facts.y * tex_bytes_per_pixel(facts.subtype);
  const std::span<unsigned char> pixels = std::span(work.pixels).first(size);
  if (!report_pixel_read(read_bytes(file, pixels), on_own_line(kReadImageDataFailed))) return false;
  facts.pixels = pixels;
  return true;
}

}  // namespace

bool read_texture_file(std::FILE* file, TextureFacts& facts) {
  long length = 0;
  return measure_length(file, length) && read_dimensions(file, length, facts) &&
         read_subtype(file, facts) && read_palette_and_pixels(file, facts);
}

namespace {

/// Reads and checks the TEX file and closes it again before anything is written.
bool read_texture(const std::string& name, TextureFacts& facts) {
  print_progress("Opening %s...", name.c_str());
  const InputFile file = open_input(name.c_str());
  if (!file) {
    print_progress("file not found!\n");
    return false;
  }
  return read_texture_file(file.get(), facts);
}

/// Enters "tga", creating it if needed.
bool enter_output_directory() {
  print_progress("Checking for sub directory creation\n");
  print_progress("Creating subdirectory %s\n", kSplitDirectory);
  return create_and_enter_directory(kSplitDirectory, "ERROR! Could not create subdirectory tga! ");
}

/// What skinsplit says while it saves an output: "Saving KIND NAME...",
/// kind being "palette" or "image".
SaveWords words_for(const SetOutput& output, const char* kind, const char* write_failed) {
  return {std::string("Saving ") + kind + " " + output.name + "...",
          "\ncould not create " + output.name + "!\n", "",
          std::string(kSplitDirectory) + "/" + output.name, write_failed};
}

bool save_palette_file(SetOutput& output) {
  // The bytes go to the file in one write at the end, if they differ from its own.
  return save_output(output, words_for(output, "palette", "\nERROR! Could not terminate palette! "),
                     [](ByteBuffer& bytes) {
                       print_progress("writing header...");
                       write_pal_header(bytes);
                       print_progress("writing palette in RGBA format...");
                       write_pal_entries(bytes, work.palette);
                       write_pal_terminator(bytes);
                       return true;
                     });
}

bool save_image(SetOutput& output, const TextureFacts& facts) {
  return save_output(output, words_for(output, "image", kWriteDataFailed), [&](ByteBuffer& bytes) {
    print_progress("writing header...");
    write_tga_header(bytes, tga_header_for_subtype(facts.subtype, facts.x, facts.y));
    if (tex_split_keeps_indices(facts.subtype)) {
      print_progress("writing palette...");
      write_tga_colour_map(bytes, work.palette);
    }
    print_progress("writing data...");
    write_tga_pixels(bytes, facts.subtype, facts.pixels, work.palette);
    return true;
  });
}

}  // namespace

bool split_texture(const char* argument, const ToolRun& /*run*/) {
  TextureName name = read_texture_name(argument, ToolKind::split);
  TextureFiles& files = name.files;
  if (!enter_texture_directory(name.path)) return false;
  // From here on every file is opened by its bare name in the texture's directory.
  TextureLock lock;
  if (!lock_texture(lock, "", name, ToolKind::split)) return false;

  TextureFacts facts;
  if (!resolve_names({&files.tex}) || !read_texture(files.tex, facts)) return false;
  if (!enter_output_directory() ||
      !resolve_names({&files.split_palette, &files.split_image, &files.split_png}))
    return false;
  // The palette file and the image belong together: both are replaced, or
  // neither. A file that was edited since it was split is kept first; so is
  // an edit saved as PNG, which would otherwise stand beside the new image.
  SetOutput palette{files.split_palette, {}, true};
  SetOutput image{files.split_image, {}, true};
  SetOutput png{files.split_png, {}, true};
  const bool with_palette = tex_split_keeps_indices(facts.subtype);
  if (with_palette && !save_palette_file(palette)) return false;
  if (!save_image(image, facts)) return false;
  const bool with_png = file_exists(files.split_png);
  if (with_png && !png.file.open_for_removal(files.split_png)) {
    const std::string message = "ERROR! Could not keep the old " + std::string(kSplitDirectory) +
                                "/" + files.split_png + "! ";
    print_system_error(message.c_str());
    return false;
  }
  std::vector<SetOutput*> set;
  if (with_palette) set.push_back(&palette);
  set.push_back(&image);
  if (with_png) set.push_back(&png);
  return put_set_in_place(set, kSplitDirectory, files.split_record);
}
