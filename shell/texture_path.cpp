#include "shell/texture_path.h"

#include <unistd.h>

#ifdef _WIN32
#include <direct.h>

#include <cctype>
#endif

#include "shell/report.h"

TexturePath split_texture_path(std::string_view argument) {
  TexturePath path;
  if (argument.size() >= 2 && argument[1] == ':') {
    path.drive = argument.substr(0, 2);
    argument.remove_prefix(2);
  }
  const std::size_t separator = argument.find_last_of("/\\");
  if (separator != std::string_view::npos) {
    path.directory = argument.substr(0, separator + 1);
    argument.remove_prefix(separator + 1);
  }
  path.name = argument;
  return path;
}

bool enter_texture_drive(const TexturePath& path) {
#ifdef _WIN32
  if (path.drive.empty()) return true;
  const int wanted = std::tolower(static_cast<unsigned char>(path.drive[0])) - 'a' + 1;
  if (wanted == _getdrive() || _chdrive(wanted) == 0) return true;
  print_system_error("ERROR! Could not change to texture drive! ");
  return false;
#else
  (void)path;  // paths here carry no drive letters
  return true;
#endif
}

bool enter_texture_directory(const TexturePath& path) {
  if (!enter_texture_drive(path)) return false;
  if (!path.directory.empty() && chdir(path.directory.c_str()) != 0) {
    print_system_error("ERROR! Could not change to texture directory! ");
    return false;
  }
  return true;
}
