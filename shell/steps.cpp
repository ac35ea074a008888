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

bool open_if_present(const std::string& name, InputFile& file, bool& found, const char* message,
                     bool regular_only) {
  file = regular_only ? open_regular_input(name.c_str()) : open_input(name.c_str());
  found = static_cast<bool>(file);
  if (found || errno == ENOENT) return true;
  print_system_error(message);
  return false;
}

bool resolve_names(std::initializer_list<std::string*> names) {
  for (std::string* name : names) {
    std::string other;
    const std::string found = find_in_any_case(*name, other);
    if (!other.empty()) {
      print_error("ERROR! Both %s and %s could be %s; rename one of them!\n", found.c_str(),
                  other.c_str(), name->c_str());
      return false;
    }
    *name = found;
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
                    TgaImage& image, std::span<unsigned char> pixels) {
  if (!read_tga_header(file, image.header)) {
    print_system_error("\nERROR! Could not read tga header ");
    return false;
  }
  const TgaHeader& h = image.header;
  print_progress("\nDimensions of image = %dx%d\n", h.width, h.height);
  image.pixel_bytes = check(h);
  if (image.pixel_bytes == 0) return false;
  print_progress("%s", reading_text);
  return report_read(read_tga_colour_map(file, h, image.map), kReadImageDataFailed, kReadPastEnd) &&
         report_read(read_tga_pixel_bytes(file, h, pixels, image.pixel_bytes), kReadImageDataFailed,
                     kReadPastEnd);
}

bool check_image_fits(const TgaHeader& header) {
  if (header.width <= kTexMaxDimension && header.height <= kTexMaxDimension) return true;
  print_error("%s", on_own_line(kImageTooLarge));
  return false;
}

bool create_and_enter_directory(const std::string& name, const std::string& failure_message) {
#ifdef _WIN32
  const bool created = _mkdir(name.c_str()) == 0;
#else
  const bool created = mkdir(name.c_str(), 0777) == 0;
#endif
  // One that exists already is simply used; any other reason the creation
  // failed is the real reason it cannot be entered.
  const int create_errno = created ? EEXIST : errno;
  if (chdir(name.c_str()) != 0) {
    if (create_errno != EEXIST) errno = create_errno;
    print_system_error(failure_message.c_str());
    return false;
  }
  return true;
}

void warn_of_new_size(const std::string& tex_name, unsigned x, unsigned y, unsigned new_x,
                      unsigned new_y) {
  const bool too_big_to_split = new_x > kTexMaxSplitDimension || new_y > kTexMaxSplitDimension;
  print_error("WARNING! %s was %u x %u and becomes %u x %u%s.\n", tex_name.c_str(), x, y, new_x,
              new_y, too_big_to_split ? "; skinsplit reads textures up to 256 x 256" : "");
}

bool put_set_in_place(std::span<SetOutput> set, const std::string& shown_directory,
                      const std::string& record) {
  std::string shown = shown_directory.empty() ? "" : shown_directory + "/";
  std::vector<std::string> kept(set.size());
  std::vector<OutputFile*> files;
  for (std::size_t i = 0; i < set.size(); ++i) {
    const std::string& name = set[i].name;
    if (set[i].keep_edits && !set[i].file.keep_changed_target(
                                 [&](unsigned n) { return numbered_name(name, n); }, kept[i])) {
      const std::string message =
          "ERROR! Could not keep the old " + shown.append(name) + ", so it is not replaced! ";
      print_system_error(message.c_str());
      return false;
    }
    files.push_back(&set[i].file);
  }
  if (!commit_outputs(files, record)) {
    print_system_error("ERROR! Could not put the new files in place! ");
    for (const std::string& name : kept) {
      if (!name.empty()) std::remove(name.c_str());  // the old file is still in place
    }
    return false;
  }
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (!kept[i].empty()) {
      print_progress("Keeping the old %s%s as %s%s\n", shown.c_str(), set[i].name.c_str(),
                     shown.c_str(), kept[i].c_str());
    }
  }
  return true;
}

namespace {

/// Repairs the sets of the texture in directory that a run stopped while it
/// put them in place, saying so in one line.
void repair_interrupted_sets(const std::string& directory, const TextureName& name) {
  const TextureFiles& files = name.files;
  const std::array<std::pair<std::string, const char*>, 2> records = {
      std::pair{directory + kSplitDirectory + "/" + files.split_record, "skinsplit"},
      std::pair{directory + files.image_directory + "/" + files.prep_record, "skinprep"}};
  for (const auto& [record, tool] : records) {
    std::size_t replaced = 0;
    const RepairOutcome outcome = repair_interrupted_commit(record, replaced);
    if (outcome == RepairOutcome::undone || outcome == RepairOutcome::completed) {
      print_progress("Repaired %s: %s was stopped after replacing %lu of its files; %s.\n",
                     record.c_str(), tool, static_cast<unsigned long>(replaced),
                     outcome == RepairOutcome::undone ? "the old files are back"
                                                      : "the rest of the new files are in place");
    } else if (outcome == RepairOutcome::unreadable) {
      print_error(
          "WARNING! %s cannot be read: a run of %s stopped there may have left a mix of "
          "old and new files.\n",
          record.c_str(), tool);
    }
  }
}

}  // namespace

void lock_texture(TextureLock& lock, const std::string& directory, const TextureName& name) {
  if (!lock.lock(directory, name.base)) {
    print_error(
        "WARNING! Could not lock %s against other runs (%s): two runs on it at once may "
        "mix their files.\n",
        name.base.c_str(), std::strerror(errno));
  }
  repair_interrupted_sets(directory, name);
}
