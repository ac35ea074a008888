#pragma once

#include <string>

/// An advisory lock on the directory a texture lies in, held while one
/// texture is worked on, so that two runs on it (skinprep twice, or skinprep
/// while skinweld reads) take turns instead of mixing their files. The second
/// waits for the first, then reads what it wrote. The directory itself is
/// locked, not a file in it: no lock file is left in the user's folder, and
/// the TEX file, which skinweld replaces by a new one, would not hold a lock.
///
/// Runs on other textures in the same directory wait too; a texture takes
/// milliseconds. Where the directory cannot be opened for reading, or the
/// system has no such locks (Windows locks files, not directories), the run
/// goes on unlocked, as before.
class TextureLock {
 public:
  /// Locks directory ("" for the current one), waiting for another run's lock.
  explicit TextureLock(const std::string& directory);
  ~TextureLock();
  TextureLock(const TextureLock&) = delete;
  TextureLock& operator=(const TextureLock&) = delete;

 private:
  int fd_ = -1;
};
