#include "files/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "files/errno_guard.h"
#include "files/interrupts.h"

namespace {

#ifdef _WIN32
constexpr int kReadFlags = O_RDONLY | O_BINARY;
constexpr int kWriteProbeFlags = O_WRONLY | O_BINARY;
constexpr int kNewFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_BINARY;
#else
constexpr int kReadFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr int kWriteProbeFlags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW;
constexpr int kNewFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
#endif

/// The error a file that is no longer the one looked at fails with.
#ifdef ESTALE
constexpr int kChangedMeanwhile = ESTALE;
#else
constexpr int kChangedMeanwhile = EAGAIN;
#endif

constexpr std::string_view kNameLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace

namespace {

/// An ASCII letter in lower case, any other byte as it is: as the C
/// locale's tolower, without its call for every letter of a large listing.
char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool same_but_for_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t n = 0; n < a.size(); ++n) {
    if (ascii_lower(a[n]) != ascii_lower(b[n])) return false;
  }
  return true;
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string name_of(const std::string& path) {
  return path.substr(directory_of(path).size());
}

std::string hidden_name(const std::string& path, const std::string& suffix) {
  constexpr std::size_t kLongestName = 255;
  const std::string directory = directory_of(path);
  const std::string name = path.substr(directory.size());
  return directory + "." + name.substr(0, kLongestName - 1 - suffix.size()) + suffix;
}

bool is_hidden_name_of(std::string_view name, std::string_view member, std::string_view suffix) {
  // Most names in a large directory are told apart by their first letters,
  // before the pattern is spelled out (a name is shortened far beyond them).
  const std::size_t start = std::min<std::size_t>(member.size(), 16);
  if (name.size() <= start || name[0] != '.' ||
      !same_but_for_case(name.substr(1, start), member.substr(0, start)))
    return false;
  const std::string pattern = hidden_name(std::string(member), std::string(suffix) + "XXXXXX");
  const std::size_t stem = pattern.size() - 6;
  if (name.size() != pattern.size() ||
      !same_but_for_case(name.substr(0, stem), std::string_view(pattern).substr(0, stem)))
    return false;
  return name.substr(stem).find_first_not_of(kNameLetters) == std::string_view::npos;
}

std::string unused_hidden_name(const std::string& path, const std::string& suffix) {
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> letter(0, kNameLetters.size() - 1);
  std::string name = hidden_name(path, suffix + "XXXXXX");
  do {
    for (std::size_t n = name.size() - 6; n < name.size(); ++n)
      name[n] = kNameLetters[letter(random)];
  } while (name_is_taken(name));
  return name;
}

std::vector<std::string> names_in(const std::string& directory) {
  const ErrnoGuard keep_errno;
  std::vector<std::string> names;
  DIR* listing = opendir(directory.empty() ? "." : directory.c_str());
  if (listing == nullptr) return names;
  while (const dirent* entry = readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  closedir(listing);
  return names;
}

bool may_write(const std::string& name) {
  const int fd = open(name.c_str(), kWriteProbeFlags);
  if (fd < 0) return false;
  close(fd);
  return true;
}

int create_new_file(const std::string& name) {
  return open(name.c_str(), kNewFileFlags, 0666);
}

int open_to_read(const std::string& name) {
  return open(name.c_str(), kReadFlags);
}

#ifdef _WIN32
bool look_at(const std::string& name, struct stat& status) {
  return stat(name.c_str(), &status) == 0;
}

bool belongs_to_user(const struct stat& /*status*/) {
  return true;
}

/// The C runtime's rename will not replace a file; the system's move will.
bool replace_file(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return true;
  errno = EACCES;
  return false;
}

bool link_file(const std::string& existing, const std::string& name) {
  if (CreateHardLinkA(name.c_str(), existing.c_str(), nullptr) != 0) return true;
  errno = GetLastError() == ERROR_ALREADY_EXISTS ? EEXIST : EXDEV;
  return false;
}

bool name_is_taken(const std::string& name) {
  ErrnoGuard keep_errno;
  struct stat status {};
  return stat(name.c_str(), &status) == 0 || errno != ENOENT;
}

/// Windows files have no owner the tools could tell apart.
bool is_own_regular_file(const std::string& name) {
  ErrnoGuard keep_errno;
  struct stat status {};
  return stat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool may_replace(const std::string& /*target*/) {
  return true;
}

/// Windows files have no owner to keep, and of the mode only the read-only
/// flag, which a target that may be written does not have.
bool keep_owner_and_mode(int /*fd*/, const struct stat* /*existing*/) {
  return true;
}

#else
bool look_at(const std::string& name, struct stat& status) {
  return lstat(name.c_str(), &status) == 0;
}

bool belongs_to_user(const struct stat& status) {
  return status.st_uid == geteuid();
}

bool replace_file(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool link_file(const std::string& existing, const std::string& name) {
  return link(existing.c_str(), name.c_str()) == 0;
}

bool name_is_taken(const std::string& name) {
  ErrnoGuard keep_errno;
  struct stat status {};
  return lstat(name.c_str(), &status) == 0 || errno != ENOENT;
}

bool is_own_regular_file(const std::string& name) {
  ErrnoGuard keep_errno;
  struct stat status {};
  return lstat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid();
}

bool may_replace(const std::string& target) {
  struct stat file {};
  struct stat directory {};
  const std::string parent = directory_of(target).empty() ? "." : directory_of(target);
  if (geteuid() == 0 || stat(target.c_str(), &file) != 0 || stat(parent.c_str(), &directory) != 0)
    return true;  // the rename says what else is wrong
  if ((directory.st_mode & S_ISVTX) == 0 || file.st_uid == geteuid() ||
      directory.st_uid == geteuid())
    return true;
  errno = EPERM;
  return false;
}

/// The mode fopen would give a new file: 0666 less the umask.
mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool keep_owner_and_mode(int fd, const struct stat* existing) {
  if (existing != nullptr && (existing->st_uid != geteuid() || existing->st_gid != getegid())) {
    const ErrnoGuard keep_errno;  // another owner, where not allowed, is no failure
    (void)fchown(fd, existing->st_uid, existing->st_gid);
  }
  return fchmod(fd, existing != nullptr ? (existing->st_mode & 07777) : new_file_mode()) == 0;
}

#endif

bool write_all(int fd, std::span<const unsigned char> bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto wrote = write(fd, bytes.data() + at, static_cast<unsigned>(bytes.size() - at));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    at += static_cast<std::size_t>(wrote);
  }
  return true;
}

bool copy_to_new_file(const std::string& from, const struct stat& status,
                      const std::string& pattern, std::string& made) {
  const int in = open(from.c_str(), kReadFlags);
  if (in < 0) return false;
  struct stat opened {};
  if (fstat(in, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != status.st_dev ||
      opened.st_ino != status.st_ino) {
    close(in);
    errno = kChangedMeanwhile;
    return false;
  }
  std::vector<char> copy_name(pattern.begin(), pattern.end());
  copy_name.push_back('\0');
  // Held off, so that an interrupt finds no copy half made.
  const InterruptsHeld held;
  const int out = mkstemp(copy_name.data());
  bool copied = out >= 0;
  std::array<unsigned char, 65536> block{};
  while (copied) {
    const auto got = read(in, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      copied = got == 0;
      break;
    }
    copied = write_all(out, std::span(block).first(static_cast<std::size_t>(got)));
  }
#ifndef _WIN32
  if (copied) copied = fchmod(out, opened.st_mode & 0777) == 0;
#endif
  if (out >= 0 && close(out) != 0) copied = false;
  const ErrnoGuard keep_failure;
  close(in);
  if (out >= 0 && !copied) unlink(copy_name.data());
  if (copied) made = copy_name.data();
  return copied;
}
