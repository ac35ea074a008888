#include "formats/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "shell/errno_guard.h"

namespace {

#ifdef _WIN32
constexpr int kWriteProbeFlags = O_WRONLY | O_BINARY;

/// Windows files have no owner to keep, and of the mode only the read-only
/// flag, which a target that may be written does not have.
bool keep_owner_and_mode(int /*fd*/, const struct stat* /*existing*/) {
  return true;
}

/// The C runtime's rename will not replace a file; the system's move will.
bool replace_file(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return true;
  errno = EACCES;
  return false;
}
#else
constexpr int kWriteProbeFlags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

/// The mode fopen would give a new file: 0666 less the umask.
mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

/// Gives the new file the replaced file's owner (where allowed) and mode, or
/// the mode fopen would give a new one.
bool keep_owner_and_mode(int fd, const struct stat* existing) {
  if (existing != nullptr && (existing->st_uid != geteuid() || existing->st_gid != getegid())) {
    const int caller_errno = errno;
    if (fchown(fd, existing->st_uid, existing->st_gid) != 0) errno = caller_errno;
  }
  return fchmod(fd, existing != nullptr ? (existing->st_mode & 07777) : new_file_mode()) == 0;
}

bool replace_file(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}
#endif

/// The directory part of path, with its trailing slash; empty for a bare name.
std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

/// Finds the mode (and owner) the new file should have. False, with errno set,
/// when an existing target cannot be written: replacing it would bypass that.
bool inspect_target(const std::string& target, struct stat& existing, bool& exists) {
  if (stat(target.c_str(), &existing) != 0) {
    exists = false;
    return errno == ENOENT;
  }
  exists = true;
  // Opening for writing without truncating asks the system itself whether
  // this user may write the file, without touching its content.
  const int fd = open(target.c_str(), kWriteProbeFlags);
  if (fd < 0) return false;
  close(fd);
  return true;
}

}  // namespace

OutputFile::~OutputFile() {
  discard();
}

bool OutputFile::open(const std::string& target) {
  discard();
  const int caller_errno = errno;
  struct stat existing {};
  bool exists = false;
  if (!inspect_target(target, existing, exists)) return false;

  // A short name, so that it fits wherever the target's own name fits.
  std::string pattern = directory_of(target) + ".skinXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  temporary_.assign(name.data());

  if (!keep_owner_and_mode(fd, exists ? &existing : nullptr) ||
      (stream_ = fdopen(fd, "wb")) == nullptr) {
    ErrnoGuard keep_errno;
    close(fd);
    unlink(temporary_.c_str());
    temporary_.clear();
    return false;
  }
  target_ = target;
  errno = caller_errno;
  return true;
}

bool OutputFile::commit() {
  const int caller_errno = errno;
  const bool flushed = std::fflush(stream_) == 0;
  const int flush_errno = errno;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (!flushed) errno = flush_errno;
  if (!flushed || !closed || !replace_file(temporary_, target_)) {
    discard();
    return false;
  }
  temporary_.clear();
  errno = caller_errno;
  return true;
}

void OutputFile::discard() {
  ErrnoGuard keep_errno;
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
}
