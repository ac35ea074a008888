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
#include "split/own_outputs.h"

namespace {

/// The fixed work area: the largest texture accepted is 256 × 256 pixels of up
/// to four bytes. The high level is kept pixel after pixel in file order.
struct SplitWorkArea {
  TexPalette palette;
  std::array<unsigned char, kTexMaxSplitDimension * kTexMaxSplitDimension * 4> pixels;
  ImageArea found;  ///< a picture found where the image goes, to compare
};
SplitWorkArea work;

/// zlib's level for a picture the user keeps and may share: its default.
constexpr int kPngPictureCompression = 6;

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
    print_progress_failure("file not found!\n", "ERROR! " + name + " not found!\n");
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

/// The picture as a PNG image: for sub-type 1 the texture's indices, with
/// its palette and each entry's alpha (so that paint programs show the
/// see-through and translucent parts); else the colours it shows, with
/// alpha where the sub-type has it.
bool save_png_picture(SetOutput& output, const TextureFacts& facts) {
  return save_output(output, words_for(output, "image", kWriteDataFailed), [&](ByteBuffer& bytes) {
    std::vector<Rgba> colours;
    std::array<Rgba, kTexPaletteEntries> entries{};
    PngPicture picture;
    picture.width = facts.x;
    picture.height = facts.y;
    picture.alpha = facts.subtype != TexSubtype::truecolour24;
    picture.compression = kPngPictureCompression;
    if (tex_split_keeps_indices(facts.subtype)) {
      for (std::size_t n = 0; n < entries.size(); ++n)
        entries[n] = tex_entry_colour(work.palette[n], false);
      picture.palette = entries;
      picture.indices_bottom_up = facts.pixels;
    } else {
      for (std::size_t k = 0; k < std::size_t{facts.x} * facts.y; ++k)
        colours.push_back(tex_pixel_colour(facts.subtype, facts.pixels, k, work.palette));
      picture.bottom_up = colours;
    }
    print_progress("writing data...");
    return write_png(bytes, picture);
  });
}

/// skinsplit's set in tga/, each file by what it is.
struct SplitSet {
  SplitSet(const TextureFiles& files, bool png_picture)
      : palette{files.split_palette, {}, false},
        image{files.split_image, {}, false},
        png{files.split_png, {}, false},
        sums{files.split_sums, {}, false},
        as_png(png_picture) {}

  /// The picture written, and the other, only ever removed where it is
  /// skinsplit's own or no picture (so that skinprep never reads a stale one).
  SetOutput& picture() { return as_png ? png : image; }
  SetOutput& other() { return as_png ? image : png; }

  SetOutput palette;
  SetOutput image;
  SetOutput png;
  SetOutput sums;
  bool as_png;  ///< the picture is tga/NAME.png (--png), not tga/NAME.tga
};

/// What skinsplit finds at the name of one of its outputs before it writes it.
enum class Found {
  nothing,      ///< no file
  same,         ///< the bytes it writes now
  its_own,      ///< what it wrote last, which nobody changed
  the_texture,  ///< another file that shows just what the texture does
  edit,         ///< a picture or palette it did not write, of other colours: an edit
  unreadable,   ///< no picture or palette at all
};

/// Whether an existing file is one of skinsplit's own by content: the new
/// bytes, or what it wrote last.
Found find_own(const SetOutput& output, const std::optional<std::uint32_t>& own) {
  if (!file_exists(output.name)) return Found::nothing;
  const std::optional<std::uint32_t> sum = file_checksum(output.name);
  if (sum && !output.file.bytes().empty() && *sum == crc32_of(output.file.bytes()))
    return Found::same;
  return sum && sum == own ? Found::its_own : Found::edit;
}

/// What a palette file there is (see Found): the texture's palette, or other colours.
Found find_palette(const SetOutput& output, const std::optional<std::uint32_t>& own) {
  const Found found = find_own(output, own);
  if (found != Found::edit) return found;
  const InputFile file = open_regular_input(output.name.c_str());
  PalHeader header;
  TexPalette palette{};
  if (!file || !read_pal_header(file.get(), header) ||
      read_pal_entries(file.get(), palette) != ReadResult::ok)
    return Found::unreadable;
  return palette == work.palette ? Found::the_texture : Found::edit;
}

/// Whether a picture shows what the texture's split image shows: the same
/// colours, and alpha where the picture has its own.
bool shows_the_texture(const EditedImage& picture, const TextureFacts& facts) {
  if (picture.width != facts.x || picture.height != facts.y) return false;
  for (std::size_t k = 0; k < picture.colours.size(); ++k) {
    Rgba shown = tex_pixel_colour(facts.subtype, facts.pixels, k, work.palette);
    Rgba is = picture.colours[k];
    if (!picture.has_alpha) shown[3] = is[3] = 255;
    if (!shows_the_same(shown, is)) return false;
  }
  return true;
}

/// What a picture there is (see Found): the texture's picture, or other colours.
Found find_picture(const SetOutput& output, const std::optional<std::uint32_t>& own,
                   const TextureFacts& facts) {
  const Found found = find_own(output, own);
  if (found != Found::edit) return found;
  const ConsoleSilence quiet;  // reading to compare, not to report
  ImageFile image;
  image.name = output.name;
  image.png = has_extension(output.name, ".png");
  EditedImage picture;
  if (!read_edited_image(work.found, image, picture)) return Found::unreadable;
  return shows_the_texture(picture, facts) ? Found::the_texture : Found::edit;
}

/// An edit in progress is never replaced by a split: it is refused, with
/// one line naming the files and the way out, unless the split was forced;
/// then, and for a file that holds no picture, the file is kept as NAME~N.
bool edits_may_go(const std::array<Found, 3>& found, SplitSet& set, const TextureName& name,
                  bool forced) {
  const std::array<SetOutput*, 3> outputs = {&set.palette, &set.image, &set.png};
  std::string edits;
  for (std::size_t n = 0; n < outputs.size(); ++n) {
    if (found[n] == Found::edit) {
      edits +=
          (edits.empty() ? "" : " and ") + std::string(kSplitDirectory) + "/" + outputs[n]->name;
    }
    outputs[n]->keep_edits = found[n] == Found::unreadable || found[n] == Found::edit;
  }
  if (edits.empty() || forced) return true;
  print_error(
      "ERROR! %s %s an edit that skinsplit did not write; %s is not split, and "
      "skinsplit --force %s splits it anew, keeping the edit as NAME~N beside it!\n",
      edits.c_str(), edits.find(" and ") == std::string::npos ? "holds" : "hold", name.base.c_str(),
      name.base.c_str());
  return false;
}

/// Writes the sums of what this split puts in place.
bool save_sums(SplitSet& set, bool with_palette) {
  OwnOutputs sums;
  if (with_palette) sums.palette = crc32_of(set.palette.file.bytes());
  (set.as_png ? sums.png : sums.image) = crc32_of(set.picture().file.bytes());
  const SaveWords quiet_words = {"",
                                 "",
                                 "ERROR! Could not create " + set.sums.name + " ",
                                 std::string(kSplitDirectory) + "/" + set.sums.name,
                                 kWriteDataFailed,
                                 false};
  return save_output(set.sums, quiet_words, [&](ByteBuffer& bytes) {
    write_own_outputs(bytes, sums);
    return true;
  });
}

/// Puts the split in place: the palette file (for sub-type 1), the picture,
/// the sums, and the removal of the other picture where it is skinsplit's
/// own or no picture (one that shows the texture stays, and an edit was
/// refused or is kept).
bool put_split_set(SplitSet& set, const std::array<Found, 3>& found, bool with_palette,
                   const std::string& record) {
  std::vector<SetOutput*> outputs;
  if (with_palette) outputs.push_back(&set.palette);
  outputs.insert(outputs.end(), {&set.picture(), &set.sums});
  const Found other = found[set.as_png ? 1 : 2];
  SetOutput& removed = set.other();
  if (other == Found::its_own || other == Found::unreadable || other == Found::edit) {
    if (!removed.file.open_for_removal(removed.name)) {
      const std::string message = "ERROR! Could not keep the old " + std::string(kSplitDirectory) +
                                  "/" + removed.name + "! ";
      print_system_error(message.c_str());
      return false;
    }
    outputs.push_back(&removed);
  }
  return put_set_in_place(outputs, kSplitDirectory, record);
}

}  // namespace

bool split_texture(const char* argument, const ToolRun& run) {
  TextureName name = read_texture_name(argument, ToolKind::split);
  TextureFiles& files = name.files;
  if (!enter_texture_directory(name.path)) return false;
  // From here on every file is opened by its bare name in the texture's directory.
  LockedTexture lock;
  if (!lock_texture(lock, "", name, ToolKind::split)) return false;

  TextureFacts facts;
  if (!resolve_names({&files.tex}) || !read_texture(files.tex, facts)) return false;
  // The names in tga/ as the lock step listed them: skinsplit has not
  // written there since.
  if (!enter_output_directory() ||
      !resolve_names_among(*lock.split_names,
                           {&files.split_palette, &files.split_image, &files.split_png}))
    return false;
  // The palette file and the image belong together: both are replaced, or
  // neither, with the sums of what skinsplit wrote.
  SplitSet set(files, (run.options & kPng) != 0);
  if (set.as_png && (facts.x == 0 || facts.y == 0)) {
    print_error("ERROR! A picture of no pixels cannot be a PNG image; split %s without --png!\n",
                name.base.c_str());
    return false;
  }
  const bool with_palette = tex_split_keeps_indices(facts.subtype);
  if ((with_palette && !save_palette_file(set.palette)) ||
      !(set.as_png ? save_png_picture(set.png, facts) : save_image(set.image, facts)))
    return false;
  const OwnOutputs own = read_own_outputs(files.split_sums);
  const std::array<Found, 3> found = {
      with_palette ? find_palette(set.palette, own.palette) : Found::nothing,
      find_picture(set.image, own.image, facts), find_picture(set.png, own.png, facts)};
  if (!edits_may_go(found, set, name, (run.options & kForce) != 0)) return false;
  return save_sums(set, with_palette) &&
         put_split_set(set, found, with_palette, files.split_record);
}
