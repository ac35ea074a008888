#pragma once

#include <functional>
#include <string>

/// An advisory lock on a texture, held while one texture is worked on, so
/// that two runs on it (skinprep twice, or skinprep while skinweld reads)
/// take turns instead of mixing their files. The second waits for the first,
/// then reads what it wrote.
///
/// The directory the texture lies in is locked where the system allows: no
/// file is left in the user's folder, and the TEX file, which skinweld
/// replaces by a new one, would not hold a lock. Runs on other textures in
/// the same directory wait too; a texture takes milliseconds. Where the
/// directory cannot be opened for reading or locked (some network file
/// systems), and on Windows, which locks files only, a hidden lock file
/// beside the texture is locked instead: ".car1.lock", made once and never
/// replaced or removed, since a file replaced by a rename locks nothing.
class TextureLock {
 public:
  TextureLock() = default;
  ~TextureLock();
  TextureLock(const TextureLock&) = delete;
  TextureLock& operator=(const TextureLock&) = delete;

  /// Locks the texture base in directory ("" for the current one, else
  /// ending in a separator), waiting for another run's lock; when that has
  /// taken a second, waiting is told once what is locked (the directory or
  /// the lock file), as anyone who may open it can hold it. False, with the
  /// error number, when neither lock could be taken: the run goes on
  /// unlocked.
  bool lock(const std::string& directory, const std::string& base,
            const std::function<void(const std::string& what)>& waiting);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};
