#include "shell/driver.h"

#include <cstdio>

#include "shell/errno_guard.h"
#include "shell/report.h"

#ifdef _WIN32
#include <direct.h>

#include <cstdlib>
#include <string>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

/// Remembers where the tool started, so that every argument is resolved from
/// there however the previous one left the current directory (and drive).
class StartDirectory {
 public:
  StartDirectory() {
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
#endif
  }
  ~StartDirectory() {
#ifndef _WIN32
    if (fd_ >= 0) close(fd_);
#endif
  }
  StartDirectory(const StartDirectory&) = delete;
  StartDirectory& operator=(const StartDirectory&) = delete;

  void go_back() const {
    ErrnoGuard keep_errno;
#ifdef _WIN32
    if (path_.size() >= 2 && path_[1] == ':') _chdrive((path_[0] & 0x1f));
    if (!path_.empty()) _chdir(path_.c_str());
#else
    if (fd_ >= 0) (void)fchdir(fd_);
#endif
  }

 private:
#ifdef _WIN32
  std::string path_;
#else
  int fd_ = -1;
#endif
};

}  // namespace

int run_driver(int argc, char** argv, const char* usage_line, TextureProcedure procedure) {
  if (argc < 2) {
    print_error("%s", usage_line);
    return kExitUsage;
  }
  const StartDirectory start;
  bool all_converted = true;
  for (int i = 1; i < argc; ++i) {
    if (!procedure(argv[i])) all_converted = false;
    start.go_back();
  }
  print_progress("\n**** Press ENTER to continue ****\n");
  // One character ends the wait; at end of input this returns at once.
  (void)std::getchar();
  return all_converted ? kExitAllConverted : kExitSomeFailed;
}
