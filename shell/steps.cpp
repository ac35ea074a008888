#include "shell/steps.h"

#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
#include <direct.h>
#endif

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "formats/pal.h"
#include "shell/messages.h"
#include "shell/report.h"
#include "shell/texture_path.h"

bool report_read(ReadResult result, const char* read_error_message,
                 const char* end_of_file_message) {
  switch (result) {
    case ReadResult::read_error:
      print_system_error(read_error_message);
      return false;
    case ReadResult::end_of_file:
      print_error("%s", end_of_file_message);
      return false;
    case ReadResult::ok:
      break;
  }
  return true;
}

namespace {

/// Whether an input was opened, or is simply not there; any other reason it
/// could not be opened is a failure, reported with message.
bool opened_if_present(const InputFile& file, bool& found, const char* message) {
  found = static_cast<bool>(file);
  if (found || errno == ENOENT) return true;
  print_system_error(message);
  return false;
}

}  // namespace

bool open_if_present(const std::string& name, InputFile& file, bool& found, const char* message) {
  file = open_input(name.c_str());
  return opened_if_present(file, found, message);
}

bool open_regular_if_present(const std::string& name, InputFile& file, bool& found,
                             const char* message) {
  file = open_regular_input(name.c_str());
  return opened_if_present(file, found, message);
}

namespace {

/// Takes found for name, unless another file could be it too (other).
bool take_found(std::string& name, const std::string& found, const std::string& other) {
  if (!other.empty()) {
    print_error("ERROR! Both %s and %s could be %s; rename one of them!\n", found.c_str(),
                other.c_str(), name.c_str());
    return false;
  }
  name = found;
  return true;
}

}  // namespace

bool resolve_names(std::initializer_list<std::string*> names) {
  for (std::string* name : names) {
    std::string other;
    const std::string found = find_in_any_case(*name, other);
    if (!take_found(*name, found, other)) return false;
  }
  return true;
}

bool resolve_names_among(const std::vector<std::string>& listing,
                         std::initializer_list<std::string*> names) {
  for (std::string* name : names) {
    std::string other;
    const std::string found = find_among(*name, listing, other);
    if (!take_found(*name, found, other)) return false;
  }
  return true;
}

namespace {

/// Reads an opened palette file's header and 256 entries.
bool read_palette_data(std::FILE* file, TexPalette& palette) {
  print_progress("Reading data for palette...");
  PalHeader header;
  if (!read_pal_header(file, header)) {
    print_system_error("\nERROR! Could not read palette header ");
    return false;
  }
  if (!report_read(read_pal_entries(file, palette), "\nERROR! Could not read palette! ",
                   "\nERROR! Tried to read past EOF!\n"))
    return false;
  print_progress("done!\n");
  return true;
}

}  // namespace

bool read_palette_file(const std::string& name, bool required, TexPalette& palette, bool& found) {
  print_progress("Opening %s...", name.c_str());
  InputFile file;
  if (required) {
    file = open_input(name.c_str());
    found = static_cast<bool>(file);
    if (!found) {
      print_progress("not found.\n");
      print_system_error(on_own_line(kOpenPaletteFailed));
      return false;
    }
  } else {
    if (!open_if_present(name, file, found, kOpenPaletteFailed)) return false;
    if (!found) {
      print_progress("not found.\n");
      return true;
    }
  }
  return read_palette_data(file.get(), palette);
}

bool read_tga_image(std::FILE* file, const char* reading_text, const TgaHeaderCheck& check,
                    TgaImage& image) {
  if (!read_tga_header(file, image.header)) {
    print_system_error("\nERROR! Could not read tga header ");
    return false;
  }
  const TgaHeader& h = image.header;
  print_image_dimensions(h.width, h.height);
  image.pixel_bytes = check(h);
  if (image.pixel_bytes == 0) return false;
  print_progress("%s", reading_text);
  return report_read(read_tga_colour_map(file, h, image.map), kReadImageDataFailed, kReadPastEnd) &&
         report_read(read_tga_pixel_bytes(file, h, image.pixels, image.pixel_bytes),
                     kReadImageDataFailed, kReadPastEnd);
}

void print_image_dimensions(unsigned width, unsigned height) {
  print_progress("\nDimensions of image = %ux%u\n", width, height);
}

bool check_image_fits(const TgaHeader& header) {
  if (header.width <= kTexMaxDimension && header.height <= kTexMaxDimension) return true;
  print_error("%s", on_own_line(kImageTooLarge));
  return false;
}

std::string new_size_warning(const std::string& tex_name, TexSize was, TexSize becomes) {
  const auto limit = static_cast<unsigned>(kTexMaxSplitDimension);
  std::array<char, 160> numbers{};
  if (becomes.x > limit || becomes.y > limit) {
    std::snprintf(numbers.data(), numbers.size(),
                  " was %u x %u and becomes %u x %u; skinsplit reads textures up to %u x %u.\n",
                  was.x, was.y, becomes.x, becomes.y, limit, limit);
  } else {
    std::snprintf(numbers.data(), numbers.size(), " was %u x %u and becomes %u x %u.\n", was.x,
                  was.y, becomes.x, becomes.y);
  }
  return "WARNING! " + tex_name + numbers.data();
}

void warn_of_new_size(const std::string& tex_name, TexSize was, TexSize becomes) {
  print_error("%s", new_size_warning(tex_name, was, becomes).c_str());
}
