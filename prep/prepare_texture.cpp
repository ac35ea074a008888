#include "prep/prepare_texture.h"

#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
#include <direct.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "formats/input_file.h"
#include "formats/output_file.h"
#include "formats/pal.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "prep/colour_match.h"
#include "shell/report.h"
#include "shell/texture_path.h"

namespace {

/// The largest image taken: what skinweld takes.
constexpr std::size_t kMaxDimension = 512;
constexpr std::size_t kMaxPixels = kMaxDimension * kMaxDimension;

/// Below this quality (libimagequant's 0 to 100) a reduction of the colours
/// is worth a warning: from about here a user sees banding and noise.
constexpr int kPoorQuality = 70;

/// The fixed work area, sized for a 512 × 512 image: its stored pixel bytes,
/// every pixel's colour, and the three levels of the result and of the
/// texture they replace, each in the TEX file's pixel order.
struct PrepWorkArea {
  std::array<unsigned char, kMaxPixels * 4> stored;
  std::array<TgaColour, kMaxPixels> colours;
  Levels result;
  Levels old;
  MatchScratch scratch;
};
PrepWorkArea work;

/// The edited image as read.
struct Image {
  TgaHeader header;
  TgaColourTable map;
  bool indexed = false;  ///< 8-bit colour-mapped: its indices may be taken as they are
};

/// What the texture being replaced can give, and if nothing, why.
struct Reference {
  bool found = false;  ///< there is a TEX file of that name
  bool usable = false;
  TexSubtype subtype = TexSubtype::indexed;
  std::string left_aside;  ///< why a texture that exists is not used
};

enum class PaletteSource { palette_file, texture, image };

/// Opens an input; a missing file is no failure (found is then false), any
/// other reason it cannot be opened is, reported with message.
bool open_optional(const std::string& name, InputFile& file, bool& found, const char* message) {
  file = open_input(name.c_str());
  found = static_cast<bool>(file);
  if (found || errno == ENOENT) return true;
  print_system_error(message);
  return false;
}

bool report_read(ReadResult result, const char* read_error_message, const char* eof_message) {
  switch (result) {
    case ReadResult::read_error:
      print_system_error(read_error_message);
      return false;
    case ReadResult::end_of_file:
      print_error("%s", eof_message);
      return false;
    case ReadResult::ok:
      break;
  }
  return true;
}

/// Whether the image has an alpha channel of its own: 32-bit pixels or map
/// entries, some below 255. All of them 0 is a program that left the byte unused.
bool has_real_alpha(const Image& image, std::span<const TgaColour> colours) {
  const bool deep =
      image.indexed ? image.header.colour_map_entry_size == 32 : image.header.pixel_depth == 32;
  if (!deep) return false;
  const bool below_opaque =
      std::any_of(colours.begin(), colours.end(), [](const TgaColour& c) { return c[3] != 255; });
  const bool all_clear =
      std::all_of(colours.begin(), colours.end(), [](const TgaColour& c) { return c[3] == 0; });
  return below_opaque && !all_clear;
}

/// Turns the stored pixels into colours; an index that the colour map does
/// not hold is refused, since no colour can be made up for it.
bool decode_colours(Image& image, unsigned pixel_bytes, EditedImage& edited) {
  const std::size_t count = std::size_t{image.header.width} * image.header.height;
  for (std::size_t k = 0; k < count; ++k) {
    const unsigned char* pixel = &work.stored[k * pixel_bytes];
    if (image.indexed && !image.map.present[pixel[0]]) {
      print_error("\nERROR! A pixel has index %d, which the image's colour map does not hold!\n",
                  pixel[0]);
      return false;
    }
    work.colours[k] = tga_pixel_colour(pixel, image.header, image.map);
  }
  edited.colours = std::span(work.colours).first(count);
  edited.indices = image.indexed ? std::span<const unsigned char>(work.stored).first(count)
                                 : std::span<const unsigned char>();
  edited.map = image.indexed ? &image.map : nullptr;
  edited.has_alpha = has_real_alpha(image, edited.colours);
  return true;
}

bool read_image(const std::string& base, Image& image, EditedImage& edited) {
  const std::string name = "tga/" + base + ".tga";
  print_progress("Opening %s...", name.c_str());
  const InputFile file = open_input(name.c_str());
  if (!file) {
    print_system_error("\nERROR! Could not open image! ");
    return false;
  }
  if (!read_tga_header(file.get(), image.header)) {
    print_system_error("\nERROR! Could not read tga header ");
    return false;
  }
  const TgaHeader& h = image.header;
  print_progress("\nDimensions of image = %dx%d\n", h.width, h.height);
  if (h.width > kMaxDimension || h.height > kMaxDimension) {
    print_error("ERROR! Image exceeds maximum size!\n");
    return false;
  }
  const unsigned pixel_bytes = tga_colour_pixel_bytes(h);
  if (pixel_bytes == 0) {
    print_error(
        "ERROR! Image of type %d with %d bits per pixel is not a TGA image skinprep takes!\n",
        h.image_type, h.pixel_depth);
    return false;
  }
  image.indexed = h.image_type == kTgaColourMapped || h.image_type == kTgaColourMappedRle;
  print_progress("Reading data for image...");
  const char* cut_short = "\nERROR! Tried to read past end-of-file!\n";
  if (!report_read(read_tga_colour_table(file.get(), h, image.map),
                   "\nERROR! Could not read image data! ", cut_short) ||
      !report_read(read_tga_pixel_bytes(file.get(), h, work.stored, pixel_bytes),
                   "\nERROR! Could not read image data! ", cut_short) ||
      !decode_colours(image, pixel_bytes, edited))
    return false;
  edited.width = h.width;
  edited.height = h.height;
  print_progress("done!\n");
  return true;
}

/// Reads the texture's palette and its three levels into the work area.
ReadResult read_old_levels(std::FILE* file, TexPalette& palette, std::size_t high,
                           std::size_t medium, std::size_t low) {
  if (std::fseek(file, kTexPaletteOffset, SEEK_SET) != 0) return ReadResult::read_error;
  ReadResult result = read_tex_palette(file, palette);
  if (result == ReadResult::ok) result = read_bytes(file, std::span(work.old.high).first(high));
  if (result == ReadResult::ok) result = read_bytes(file, std::span(work.old.medium).first(medium));
  if (result == ReadResult::ok) result = read_bytes(file, std::span(work.old.low).first(low));
  return result;
}

/// Reads the TEX file's length, header, palette and three levels. Returns
/// false only for a refusal; a texture that cannot serve is left aside.
bool read_texture_levels(std::FILE* file, const EditedImage& edited, Reference& ref,
                         TexPalette& palette) {
  const bool measured = std::fseek(file, 0, SEEK_END) == 0;
  const long length = measured ? std::ftell(file) : -1;
  if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
    print_system_error("\nERROR! Could not read TEX file! ");
    return false;
  }
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  const bool has_header = read_tex_dimensions(file, x, y) == TexDimensionsResult::ok;
  const std::optional<TexSubtype> subtype = has_header ? read_tex_subtype(file) : std::nullopt;
  if (!subtype) {
    ref.left_aside = "cut short";
    return true;
  }
  const int number = static_cast<int>(*subtype);
  if (*subtype == TexSubtype::truecolour24 || *subtype == TexSubtype::truecolour32) {
    print_error("\nERROR! Texture has true-colour sub-type %d, which skinweld does not replace!\n",
                number);
    return false;
  }
  if (*subtype != TexSubtype::indexed && *subtype != TexSubtype::indexed_expanded) {
    ref.left_aside = "sub-type " + std::to_string(number);
    return true;
  }
  if (x != edited.width || y != edited.height) {
    ref.left_aside = "another size, " + std::to_string(x) + "x" + std::to_string(y);
    return true;
  }
  const std::size_t high = std::size_t{x} * y;
  const std::size_t medium = std::size_t{x / 2U} * (y / 2U);
  const std::size_t low = std::size_t{x / 4U} * (y / 4U);
  if (static_cast<std::uint64_t>(length) < 1038 + high + medium + low) {
    ref.left_aside = "cut short";
    return true;
  }
  switch (read_old_levels(file, palette, high, medium, low)) {
    case ReadResult::read_error:
      print_system_error("\nERROR! Could not read TEX file! ");
      return false;
    case ReadResult::end_of_file:  // it shrank while it was read
      ref.left_aside = "cut short";
      return true;
    case ReadResult::ok:
      break;
  }
  ref.usable = true;
  ref.subtype = *subtype;
  return true;
}

bool read_reference(const std::string& base, const EditedImage& edited, Reference& ref,
                    TexPalette& palette) {
  const std::string name = base + ".tex";
  print_progress("Checking %s...", name.c_str());
  InputFile file;
  if (!open_optional(name, file, ref.found, "\nERROR! Could not open TEX file! ")) return false;
  if (!ref.found) {
    print_progress("not found.\n");
    return true;
  }
  if (!read_texture_levels(file.get(), edited, ref, palette)) return false;
  print_progress(ref.usable ? "done!\n" : "%s, not used.\n", ref.left_aside.c_str());
  return true;
}

bool read_palette_file(const std::string& base, bool& found, TexPalette& palette) {
  const std::string name = "tga/" + base + ".pal";
  print_progress("Opening %s...", name.c_str());
  InputFile file;
  if (!open_optional(name, file, found, "\nERROR! Could not open palette file! ")) return false;
  if (!found) {
    print_progress("not found.\n");
    return true;
  }
  print_progress("Reading data for palette...");
  PalHeader header;
  if (!read_pal_header(file.get(), header)) {
    print_system_error("\nERROR! Could not read palette header ");
    return false;
  }
  if (!report_read(read_pal_entries(file.get(), palette), "\nERROR! Could not read palette! ",
                   "\nERROR! Tried to read past EOF!\n"))
    return false;
  print_progress("done!\n");
  return true;
}

/// Enters the image directory, creating it if it is missing.
bool enter_image_directory(const std::string& base) {
  print_progress("Creating directory %s\n", base.c_str());
#ifdef _WIN32
  (void)_mkdir(base.c_str());
#else
  (void)mkdir(base.c_str(), 0777);  // one that exists already is simply used
#endif
  if (chdir(base.c_str()) != 0) {
    print_system_error(("ERROR! Could not create directory " + base + "! ").c_str());
    return false;
  }
  return true;
}

/// Opens an output after its "Saving ..." line, reporting a failure.
bool open_output(OutputFile& out, const std::string& name) {
  if (out.open(name)) return true;
  print_progress("failed.\n");
  print_system_error(("ERROR! Could not create " + name + " ").c_str());
  return false;
}

bool save_palette_file(const std::string& name, const TexPalette& palette) {
  print_progress("Saving palette %s...", name.c_str());
  OutputFile out;
  if (!open_output(out, name)) return false;
  if (!write_pal_header(out.stream()) || !write_pal_entries(out.stream(), palette) ||
      !write_pal_terminator(out.stream()) || !out.commit()) {
    print_system_error("\nERROR! Could not write palette! ");
    return false;
  }
  print_progress("done!\n");
  return true;
}

/// One level as skinsplit writes a sub-type 1 image: the palette's colours as
/// the colour map, one index a pixel.
bool save_level(const std::string& name, std::size_t width, std::size_t height,
                std::span<const unsigned char> level, const TexPalette& palette) {
  print_progress("Saving image %s...", name.c_str());
  OutputFile out;
  if (!open_output(out, name)) return false;
  const TgaHeader header = tga_header_for_subtype(
      TexSubtype::indexed, static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height));
  if (!write_tga_header(out.stream(), header) || !write_tga_colour_map(out.stream(), palette) ||
      !write_tga_pixels(out.stream(), TexSubtype::indexed, level.first(width * height), palette) ||
      !out.commit()) {
    print_system_error("\nERROR! Could not write data! ");
    return false;
  }
  print_progress("done!\n");
  return true;
}

bool save_outputs(const std::string& base, const EditedImage& edited, const TexPalette& palette) {
  const std::size_t w = edited.width;
  const std::size_t h = edited.height;
  return enter_image_directory(base) && save_palette_file(base + ".pal", palette) &&
         save_level(base + "_h.tga", w, h, work.result.high, palette) &&
         save_level(base + "_m.tga", w / 2, h / 2, work.result.medium, palette) &&
         save_level(base + "_l.tga", w / 4, h / 4, work.result.low, palette);
}

/// "17, 20-23, 200": the entries new colours took, runs shortened.
std::string list_entries(const std::array<bool, 256>& taken) {
  std::string text;
  for (unsigned n = 0; n < 256; ++n) {
    if (!taken[n]) continue;
    unsigned last = n;
    while (last + 1 < 256 && taken[last + 1])
      ++last;
    if (!text.empty()) text += ", ";
    text += std::to_string(n);
    if (last > n) {
      text += '-';
      text += std::to_string(last);
    }
    n = last;
  }
  return text;
}

void print_high_level(const MatchCounts& counts) {
  if (counts.reduced) {
    const Reduction& r = counts.reduction;
    print_progress(
        "High level: %lu colours, %lu of them new, more than the %lu free entries hold: "
        "palette made anew by libimagequant, %lu entries kept their place; %lu pixels "
        "have exactly their colour, %lu dithered; mean square error %.2f, quality %d "
        "of 100",
        r.image_colours, counts.fresh_colours, counts.free_entries, r.kept_places, r.exact_pixels,
        r.dithered_pixels, r.mean_square_error, r.quality);
    return;
  }
  print_progress("High level: %lu pixels kept their index, %lu matched by colour, ", counts.kept,
                 counts.matched);
  if (counts.fresh_colours == 0) {
    print_progress("no new colour");
  } else {
    print_progress("%lu took %lu new colours (entries %s)", counts.fresh_pixels,
                   counts.fresh_colours, list_entries(counts.entries_taken).c_str());
  }
}

void print_summary(const std::string& base, PaletteSource source, const Reference& ref,
                   const MatchCounts& counts) {
  if (ref.usable) {
    print_progress("Reference: %s.tex, sub-type %d\n", base.c_str(), static_cast<int>(ref.subtype));
  } else if (ref.found) {
    print_progress("Reference: none (%s.tex not used: %s)\n", base.c_str(), ref.left_aside.c_str());
  } else {
    print_progress("Reference: none (no %s.tex)\n", base.c_str());
  }
  switch (source) {
    case PaletteSource::palette_file:
      print_progress("Palette: from tga/%s.pal\n", base.c_str());
      break;
    case PaletteSource::texture:
      print_progress("Palette: from %s.tex\n", base.c_str());
      break;
    case PaletteSource::image:
      print_progress("Palette: made from the image (no palette file and no texture)\n");
      break;
  }
  print_high_level(counts);
  print_progress("\nMedium level: %lu pixels reused, %lu made\n", counts.medium_reused,
                 counts.medium_made);
  print_progress("Low level: %lu pixels reused, %lu made\n", counts.low_reused, counts.low_made);
}

}  // namespace

// The driver hands every tool's procedure the writable argument; this one only reads it.
bool prepare_texture(char* argument) {  // NOLINT(readability-non-const-parameter)
  const TexturePath path = split_texture_path(argument);
  if (!enter_texture_directory(path)) return false;
  // From here on every file is named relative to the texture's directory.
  const std::string base = path.name.substr(0, path.name.rfind('.'));

  Image image;
  EditedImage edited;
  Reference ref;
  TexPalette texture_palette{};
  TexPalette file_palette{};
  bool palette_found = false;
  if (!read_image(base, image, edited)) return false;
  if (!read_reference(base, edited, ref, texture_palette)) return false;
  if (!read_palette_file(base, palette_found, file_palette)) return false;

  const PaletteSource source = palette_found ? PaletteSource::palette_file
                               : ref.usable  ? PaletteSource::texture
                                             : PaletteSource::image;
  PaletteSetting setting;
  setting.palette = palette_found ? file_palette : texture_palette;
  setting.from_image = source == PaletteSource::image;
  setting.expanded = ref.usable && ref.subtype == TexSubtype::indexed_expanded;
  const OldTexture old = {ref.usable, &texture_palette, &work.old};

  MatchCounts counts;
  print_progress("Matching colours...");
  if (match_colours(edited, old, setting, work.result, counts, work.scratch) ==
      MatchResult::reduction_failed) {
    print_error("\nERROR! Could not reduce the colours: %lu new, %lu palette entries free!\n",
                counts.fresh_colours, counts.free_entries);
    return false;
  }
  print_progress("done!\n");
  if (!save_outputs(base, edited, setting.palette)) return false;
  print_summary(base, source, ref, counts);
  if (counts.reduced && counts.reduction.quality < kPoorQuality) {
    print_error(
        "WARNING! The colours of tga/%s.tga were reduced with quality %d of 100; the "
        "texture will look visibly different from the image.\n",
        base.c_str(), counts.reduction.quality);
  }
  return true;
}
