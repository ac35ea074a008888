#pragma once

#include <cerrno>

/// Puts the error number back as it was when the guard was made.
///
/// Messages after a failure that sets no error number of its own (an end of
/// file, say) show whatever number an earlier failing call left, so calls that
/// are only housekeeping must not change it.
class ErrnoGuard {
 public:
  ErrnoGuard() : saved_(errno) {}
  ~ErrnoGuard() { errno = saved_; }
  ErrnoGuard(const ErrnoGuard&) = delete;
  ErrnoGuard& operator=(const ErrnoGuard&) = delete;

 private:
  int saved_;
};
