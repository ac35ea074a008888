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
  ~ErrnoGuard() {
    if (!released_) errno = saved_;
  }
  ErrnoGuard(const ErrnoGuard&) = delete;
  ErrnoGuard& operator=(const ErrnoGuard&) = delete;

  /// Passes ok on. A success leaves the error number as the guard found it; a
  /// failure leaves the number its failing call set, for the report.
  bool result(bool ok) {
    released_ = !ok;
    return ok;
  }

 private:
  int saved_;
  bool released_ = false;
};
