#pragma once

#include <string>

/// The directory (and drive) a tool started in, kept open so that it can be
/// made current again however far the work on one texture wandered off, and
/// even when its path is no longer reachable by name.
class StartDirectory {
 public:
  /// Remembers the current directory; a failure is kept for go_back() to report.
  StartDirectory();
  ~StartDirectory();
  StartDirectory(const StartDirectory&) = delete;
  StartDirectory& operator=(const StartDirectory&) = delete;

  /// Makes it current again. False, with the error number of the failure,
  /// when the way back is lost.
  [[nodiscard]] bool go_back() const;

 private:
#ifdef _WIN32
  std::string path_;
#else
  int fd_ = -1;
  int open_errno_ = 0;
#endif
};
