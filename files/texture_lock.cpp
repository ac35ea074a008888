#include "files/texture_lock.h"

#include <fcntl.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include <cerrno>

#include "files/errno_guard.h"

namespace {

std::string lock_file_name(const std::string& directory, const std::string& base) {
  return directory + "." + base + ".lock";
}

#ifndef _WIN32
/// Takes the lock of fd, waiting for it; the descriptor is closed on failure.
bool lock_descriptor(int& fd) {
  if (fd < 0) return false;
  int result = 0;
  while ((result = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (result == 0) return true;
  const int reason = errno;
  close(fd);
  fd = -1;
  errno = reason;
  return false;
}
#endif

}  // namespace

#ifdef _WIN32
bool TextureLock::lock(const std::string& directory, const std::string& base) {
  ErrnoGuard keep_errno;
  const std::string name = lock_file_name(directory, base);
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOLCK;
    return keep_errno.result(false);
  }
  OVERLAPPED whole{};
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) == 0) {
    CloseHandle(file);
    errno = ENOLCK;
    return keep_errno.result(false);
  }
  handle_ = file;
  return true;
}

TextureLock::~TextureLock() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));  // closing releases the lock
}
#else
bool TextureLock::lock(const std::string& directory, const std::string& base) {
  ErrnoGuard keep_errno;
  fd_ = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_descriptor(fd_)) return true;
  const std::string name = lock_file_name(directory, base);
  fd_ = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  // One made by another user may be only readable, which locks as well.
  if (fd_ < 0 && errno == EACCES) fd_ = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  return keep_errno.result(lock_descriptor(fd_));
}

TextureLock::~TextureLock() {
  if (fd_ >= 0) close(fd_);  // closing releases the lock
}
#endif
