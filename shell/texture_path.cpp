#include "shell/texture_path.h"

#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
#include <direct.h>
#endif

#include <algorithm>
#include <cctype>
#include <utility>

#include "files/errno_guard.h"
#include "files/file_system.h"
#include "files/input_file.h"

#include "shell/messages.h"
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

namespace {

TextureFiles name_texture_files(const std::string& base) {
  TextureFiles files;
  files.tex = base + ".tex";
  files.split_image = base + ".tga";
  files.split_palette = base + ".pal";
  files.split_png = base + ".png";
  files.edited_image = std::string(kSplitDirectory) + "/" + files.split_image;
  files.edited_png = std::string(kSplitDirectory) + "/" + files.split_png;
  files.edited_palette = std::string(kSplitDirectory) + "/" + files.split_palette;
  files.image_directory = base;
  files.level_palette = base + ".pal";
  files.levels = {base + "_h.tga", base + "_m.tga", base + "_l.tga"};
  files.memory = base + "_source.png";
  files.preview = base + "_preview.html";
  files.split_record = hidden_name(base, ".skinsplit-commit");
  files.prep_record = hidden_name(base, ".skinprep-commit");
  files.split_sums = hidden_name(base, ".skinsplit-sums");
  return files;
}

/// A file skinprep is given in a "tga" directory stands for the texture in
/// the directory above; an image there is the one to read.
void take_split_directory(TextureName& name) {
  std::string_view directory = name.path.directory;
  if (directory.empty()) return;
  directory.remove_suffix(1);
  const std::size_t separator = directory.find_last_of("/\\");
  const std::size_t start = separator == std::string_view::npos ? 0 : separator + 1;
  if (!same_but_for_case(directory.substr(start), kSplitDirectory)) return;
  if (has_extension(name.path.name, ".tga") || has_extension(name.path.name, ".png"))
    name.dropped_image = std::string(directory.substr(start)) + "/" + name.path.name;
  name.path.directory.resize(start);
}

}  // namespace

bool has_extension(std::string_view name, std::string_view extension) {
  return name.size() > extension.size() &&
         same_but_for_case(name.substr(name.size() - extension.size()), extension);
}

namespace {

#ifndef _WIN32
/// Whether path names a file, link or directory exactly as it is written.
bool named_exactly(const std::string& path) {
  const ErrnoGuard keep_errno;
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

/// The entry of listing (the names in path's directory) that is path's
/// name but for case, with the directory; other the second such, if any.
std::string match_in_listing(const std::string& path, const std::vector<std::string>& listing,
                             std::string& other) {
  const std::string directory = directory_of(path);
  const std::string_view name = std::string_view(path).substr(directory.size());
  const std::string* found = nullptr;
  for (const std::string& entry : listing) {
    if (!same_but_for_case(entry, name)) continue;
    if (found != nullptr) {
      other = directory + entry;
      break;
    }
    found = &entry;
  }
  return found == nullptr ? path : directory + *found;
}
#endif

}  // namespace

std::string find_among(const std::string& path, const std::vector<std::string>& listing,
                       std::string& other) {
  other.clear();
#ifdef _WIN32
  (void)listing;  // Windows names ignore case already
  return path;
#else
  return named_exactly(path) ? path : match_in_listing(path, listing, other);
#endif
}

std::string find_in_any_case(const std::string& path, std::string& other) {
  other.clear();
#ifdef _WIN32
  return path;  // Windows names ignore case already
#else
  return named_exactly(path) ? path : match_in_listing(path, names_in(directory_of(path)), other);
#endif
}

std::vector<std::string> find_each_among(const std::string& directory,
                                         const std::vector<std::string>& names,
                                         const std::vector<std::string>& listing) {
  std::vector<std::string> found;
#ifdef _WIN32
  (void)listing;  // Windows names ignore case already
  for (const std::string& name : names) {
    if (file_exists(directory + name)) found.push_back(directory + name);
  }
#else
  std::vector<std::string> by_name(names.size());
  for (const std::string& entry : listing) {
    for (std::size_t n = 0; n < names.size(); ++n) {
      if (by_name[n].empty() && same_but_for_case(entry, names[n])) by_name[n] = directory + entry;
    }
  }
  for (std::string& name : by_name) {
    if (!name.empty()) found.push_back(std::move(name));
  }
#endif
  return found;
}

TextureName read_texture_name(std::string_view argument, ToolKind tool) {
  TextureName name;
  // Tab completion offers "car1/" once the image directory exists, and a
  // folder dropped on the program ends in a separator too.
  while (!argument.empty() && (argument.back() == '/' || argument.back() == '\\'))
    argument.remove_suffix(1);
  switch (tool) {
    case ToolKind::split:
    case ToolKind::prep:
      name.path = split_texture_path(argument);
      if (tool == ToolKind::prep) take_split_directory(name);
      name.base = name.path.name.substr(0, name.path.name.rfind('.'));
      break;
    case ToolKind::weld:
      if (argument.ends_with(".tex") || argument.ends_with(".TEX")) argument.remove_suffix(4);
      name.path = split_texture_path(argument);
      name.base = name.path.name;
      break;
  }
  name.files = name_texture_files(name.base);
  return name;
}

std::string numbered_name(const std::string& name, unsigned n) {
  const std::size_t dot = name.rfind('.');
  const std::size_t stem = dot == std::string::npos ? name.size() : dot;
  return name.substr(0, stem) + "~" + std::to_string(n) + name.substr(stem);
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
    print_system_error(kEnterTextureDirectoryFailed);
    return false;
  }
  return true;
}
