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

#ifdef __MINGW32__
// Windows' command prompt hands "*.tex" over unexpanded; this asks the C
// runtime to expand wildcard arguments before main, as a Unix shell does.
// Every tool links this file for run_driver, so every tool gets it.
extern "C" {
int _dowildcard = -1;  // NOLINT: the C runtime's own name
}
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
    if (fd_ < 0) open_errno_ = errno;
#endif
  }
  ~StartDirectory() {
#ifndef _WIN32
    if (fd_ >= 0) close(fd_);
#endif
  }
  StartDirectory(const StartDirectory&) = delete;
  StartDirectory& operator=(const StartDirectory&) = delete;

  /// False, with the error number of the failure, when the way back is lost.
  [[nodiscard]] bool go_back() const {
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

 private:
#ifdef _WIN32
  std::string path_;
#else
  int fd_ = -1;
  int open_errno_ = 0;
#endif
};

/// The directory the tool started in; made by run_driver before the first argument.
const StartDirectory* start_directory = nullptr;

}  // namespace

bool return_to_start_directory() {
  return start_directory != nullptr && start_directory->go_back();
}

int run_driver(int argc, char** argv, const char* usage_line, TextureProcedure procedure) {
  if (argc < 2) {
    print_error("%s", usage_line);
    return kExitUsage;
  }
  const StartDirectory start;
  start_directory = &start;
  bool all_converted = true;
  for (int i = 1; i < argc; ++i) {
    if (!procedure(argv[i])) all_converted = false;
    // A start directory that cannot be entered again leaves the next argument
    // where this one ended; a relative name is then simply not found.
    ErrnoGuard keep_errno;
    (void)start.go_back();
  }
  start_directory = nullptr;
  print_progress("\n**** Press ENTER to continue ****\n");
  // One character ends the wait; at end of input this returns at once.
  (void)std::getchar();
  return all_converted ? kExitAllConverted : kExitSomeFailed;
}
