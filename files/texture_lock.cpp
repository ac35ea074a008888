#include "files/texture_lock.h"

#include "files/errno_guard.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#endif

TextureLock::TextureLock(const std::string& directory) {
#ifndef _WIN32
  ErrnoGuard keep_errno;
  fd_ = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
#else
  (void)directory;
#endif
}

TextureLock::~TextureLock() {
#ifndef _WIN32
  if (fd_ >= 0) close(fd_);  // closing releases the lock
#endif
}
