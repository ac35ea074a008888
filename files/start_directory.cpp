#include "files/start_directory.h"

#include "files/errno_guard.h"

#ifdef _WIN32
#include <direct.h>

#include <cstdlib>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

StartDirectory::StartDirectory() {
  ErrnoGuard keep_errno;
#ifdef _WIN32
  if (char* path = _getcwd(nullptr, 0)) {
    path_ = path;
    std::free(path);
  }
#else
#ifdef O_PATH
  // O_PATH needs no read permission on the directory, only that it exists.
  fd_ = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  fd_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
  if (fd_ < 0) open_errno_ = errno;
#endif
}

StartDirectory::~StartDirectory() {
#ifndef _WIN32
  if (fd_ >= 0) close(fd_);
#endif
}

bool StartDirectory::go_back() const {
#ifdef _WIN32
  if (path_.empty()) return false;
  if (path_.size() >= 2 && path_[1] == ':' && _chdrive(path_[0] & 0x1f) != 0) return false;
  return _chdir(path_.c_str()) == 0;
#else
  if (fd_ < 0) {
    errno = open_errno_;
    return false;
  }
  return fchdir(fd_) == 0;
#endif
}
