#include "shell/steps.h"

#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
#include <direct.h>
#endif

#include <cerrno>
#include <cstdarg>

#include "formats/pal.h"
#include "shell/report.h"

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

bool open_if_present(const std::string& name, InputFile& file, bool& found, const char* message) {
  file = open_input(name.c_str());
  found = static_cast<bool>(file);
  if (found || errno == ENOENT) return true;
  print_system_error(message);
  return false;
}

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

bool check_replaceable(TexSubtype subtype, const char* format, ...) {
  if (subtype != TexSubtype::truecolour24 && subtype != TexSubtype::truecolour32) return true;
  std::va_list values;
  va_start(values, format);
  print_error_list(format, values);
  va_end(values);
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

bool put_in_place(std::span<OutputFile* const> files) {
  if (commit_outputs(files)) return true;
  print_system_error("ERROR! Could not put the new files in place! ");
  return false;
}
