#include "files/links.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

#include "files/errno_guard.h"
#include "files/file_system.h"

#ifdef _WIN32
LinkVerdict follow_own_link(const std::string& name, KindCheck /*kind*/, std::string& end) {
  end = name;
  return LinkVerdict::none;
}

bool directory_link_allowed(const std::string& /*name*/, LinkVerdict& verdict) {
  verdict = LinkVerdict::none;
  return true;
}

bool enter_directory(const std::string& name, LinkVerdict& verdict) {
  verdict = LinkVerdict::none;
  return chdir(name.c_str()) == 0;
}
#else
namespace {

/// The extension of a name, from its last dot on; empty when it has none.
std::string_view extension_of(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? std::string_view() : name.substr(dot);
}

/// Follows the chain of links at name, each of which must belong, with the
/// directory holding it, to the user running the tool. end and status are
/// the file at its end; none when name is no link.
LinkVerdict follow_chain(const std::string& name, std::string& end, struct stat& status) {
  end = name;
  std::string path = name;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0)
      return hop == 0 ? LinkVerdict::none : LinkVerdict::dangling;
    if (!S_ISLNK(link.st_mode)) {
      end = path;
      status = link;
      return hop == 0 ? LinkVerdict::none : LinkVerdict::followed;
    }
    const std::string directory = directory_of(path);
    struct stat holder {};
    if (link.st_uid != geteuid() ||
        stat(directory.empty() ? "." : directory.c_str(), &holder) != 0 ||
        holder.st_uid != geteuid())
      return LinkVerdict::foreign;
    std::vector<char> text(static_cast<std::size_t>(link.st_size) + 1);
    const ssize_t length = readlink(path.c_str(), text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size())
      return LinkVerdict::dangling;
    const std::string points_to(text.data(), static_cast<std::size_t>(length));
    // A relative link is read from the directory that holds it.
    path = points_to[0] == '/' ? points_to : directory + points_to;
    end = path;
  }
  return LinkVerdict::dangling;
}

/// Whether the file at end, still the one status describes, has the
/// extension of name and a head that reads as name's kind.
bool is_of_kind(const std::string& name, const std::string& end, const struct stat& status,
                KindCheck kind) {
  if (!same_but_for_case(extension_of(name_of(name)), extension_of(name_of(end)))) return false;
  const int fd = open_to_read(end);
  if (fd < 0) return false;
  struct stat opened {};
  std::array<unsigned char, 512> head{};
  ssize_t got = -1;
  if (fstat(fd, &opened) == 0 && opened.st_dev == status.st_dev && opened.st_ino == status.st_ino)
    got = read(fd, head.data(), head.size());
  close(fd);
  return got >= 0 && kind(name, std::span(head).first(static_cast<std::size_t>(got)));
}

}  // namespace

LinkVerdict follow_own_link(const std::string& name, KindCheck kind, std::string& end) {
  const ErrnoGuard keep_errno;
  struct stat status {};
  const LinkVerdict chain = follow_chain(name, end, status);
  if (chain != LinkVerdict::followed) return chain;
  if (!S_ISREG(status.st_mode)) return LinkVerdict::wrong_type;
  return is_of_kind(name, end, status, kind) ? LinkVerdict::followed : LinkVerdict::wrong_kind;
}

bool directory_link_allowed(const std::string& name, LinkVerdict& verdict) {
  const ErrnoGuard keep_errno;
  std::string end;
  struct stat status {};
  verdict = follow_chain(name, end, status);
  if (verdict == LinkVerdict::followed && !S_ISDIR(status.st_mode))
    verdict = LinkVerdict::wrong_type;
  return verdict == LinkVerdict::none || verdict == LinkVerdict::followed;
}

bool enter_directory(const std::string& name, LinkVerdict& verdict) {
#ifdef O_PATH
  // O_PATH needs no read permission on the directory, only that it may be entered.
  constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
  constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  // A name that was no link when looked at is opened without following one,
  // so that a link planted there meanwhile is not entered either.
  for (int look = 0; look < 2; ++look) {
    if (!directory_link_allowed(name, verdict)) {
      errno = ENOTDIR;
      return false;
    }
    const int fd =
        open(name.c_str(), kDirectoryFlags | (verdict == LinkVerdict::none ? O_NOFOLLOW : 0));
    if (fd < 0 && errno == ELOOP && verdict == LinkVerdict::none) continue;
    if (fd < 0) return false;
    const bool entered = fchdir(fd) == 0;
    const ErrnoGuard keep_errno;
    close(fd);
    return entered;
  }
  return false;
}
#endif
