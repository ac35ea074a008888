#pragma once

#include <string>
#include <string_view>

/// A texture name as the user typed it, taken apart: "C:\skins\car1.tex"
/// gives the drive "C:", the directory "\skins\" and the name "car1.tex".
struct TexturePath {
  std::string drive;      ///< "C:" or empty
  std::string directory;  ///< up to and including the last slash or backslash; may be empty
  std::string name;       ///< the rest
};

/// Splits an argument into drive, directory and name. A drive is the first
/// two characters when the second is a colon, on every platform.
TexturePath split_texture_path(std::string_view argument);

/// Makes the path's drive and then its directory current. Going on anywhere
/// else could find another texture of the same name, so a failure is reported
/// and ends the argument.
bool enter_texture_directory(const TexturePath& path);

/// Makes the path's drive current, reporting a failure.
bool enter_texture_drive(const TexturePath& path);
