#pragma once

#include <cstddef>
#include <filesystem>

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes away. Open to every user, so that a
/// tool run as an unprivileged user can work in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

/// How many files and directories dir holds (not counting what is in those).
std::size_t entries_in(const std::filesystem::path& dir);
