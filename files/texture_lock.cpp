#include "files/texture_lock.h"

#include <fcntl.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <thread>

#include "files/errno_guard.h"

namespace {

/// How long a run waits without a word for another run's lock, and how
/// often it looks meanwhile.
constexpr auto kQuietWait = std::chrono::seconds(1);
constexpr auto kLookEvery = std::chrono::milliseconds(20);

std::string lock_file_name(const std::string& directory, const std::string& base) {
  return directory + "." + base + ".lock";
}

#ifndef _WIN32
/// Takes the lock of fd, waiting for it; the descriptor is closed on failure.
bool lock_descriptor(int& fd, const std::string& what,
                     const std::function<void(const std::string&)>& waiting) {
  if (fd < 0) return false;
  const auto started = std::chrono::steady_clock::now();
  int result = 0;
  while ((result = flock(fd, LOCK_EX | LOCK_NB)) != 0 &&
         (errno == EINTR ||
          (errno == EWOULDBLOCK && std::chrono::steady_clock::now() - started < kQuietWait)))
    std::this_thread::sleep_for(kLookEvery);
  if (result != 0 && errno == EWOULDBLOCK) {
    waiting(what);
    while ((result = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
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
bool TextureLock::lock(const std::string& directory, const std::string& base,
                       const std::function<void(const std::string& what)>& waiting) {
  ErrnoGuard keep_errno;
  const std::string name = lock_file_name(directory, base);
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOLCK;
    return keep_errno.result(false);
  }
  const auto started = std::chrono::steady_clock::now();
  OVERLAPPED whole{};
  bool locked = false;
  for (;;) {
    locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                        MAXDWORD, &whole) != 0;
    if (locked || GetLastError() != ERROR_LOCK_VIOLATION ||
        std::chrono::steady_clock::now() - started >= kQuietWait)
      break;
    std::this_thread::sleep_for(kLookEvery);
  }
  if (!locked && GetLastError() == ERROR_LOCK_VIOLATION) {
    waiting(name);
    locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
  }
  if (!locked) {
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
bool TextureLock::lock(const std::string& directory, const std::string& base,
                       const std::function<void(const std::string& what)>& waiting) {
  ErrnoGuard keep_errno;
  const std::string here = directory.empty() ? "." : directory;
  fd_ = open(here.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_descriptor(fd_, here, waiting)) return true;
  const std::string name = lock_file_name(directory, base);
  fd_ = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  // One made by another user may be only readable, which locks as well;
  // where there is none, the reason it could not be made is the one to tell.
  if (fd_ < 0 && errno == EACCES) {
    fd_ = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0 && errno == ENOENT) errno = EACCES;
  }
  return keep_errno.result(lock_descriptor(fd_, name, waiting));
}

TextureLock::~TextureLock() {
  if (fd_ >= 0) close(fd_);  // closing releases the lock
}
#endif
