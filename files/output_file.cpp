#include "files/output_file.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "files/errno_guard.h"
#include "files/input_file.h"
#include "files/interrupts.h"

namespace {

/// Finds the mode (and owner) the new file should have. False, with errno set,
/// when an existing target cannot be written: replacing it would bypass that.
/// Only a regular file is replaced: a device, pipe or socket would become a
/// file of that name, and a directory cannot be.
bool inspect_target(const std::string& target, struct stat& existing, bool& exists) {
  if (!look_at(target, existing)) {
    exists = false;
    return errno == ENOENT;
  }
  exists = true;
  if (S_ISDIR(existing.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (!S_ISREG(existing.st_mode)) {
    errno = ENOTSUP;
    return false;
  }
  // Replacing a file this user may not write would bypass that.
  return may_write(target);
}

/// Whether a file holds exactly bytes. A file that cannot be read counts as
/// different: what it holds is then kept rather than lost.
bool holds_bytes(const std::string& name, const std::vector<unsigned char>& bytes) {
  ErrnoGuard keep_errno;
  const InputFile file = open_input(name.c_str());
  if (!file) return false;
  std::array<unsigned char, 4096> block{};
  std::size_t at = 0;
  for (;;) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), file.get());
    if (std::ferror(file.get()) != 0 || got > bytes.size() - at ||
        !std::equal(block.begin(), block.begin() + static_cast<long>(got),
                    bytes.begin() + static_cast<long>(at)))
      return false;
    at += got;
    if (got < block.size()) return at == bytes.size();
  }
}

/// Gives a copy made under a hidden name the name numbered: by a link, or
/// where there are no hard links by a rename, neither of which writes
/// through a link planted there meanwhile. Fails with EEXIST where the name
/// was taken since it was looked at.
bool name_the_copy(const std::string& copy, const std::string& numbered) {
  if (link_file(copy, numbered)) {
    unlink(copy.c_str());
    return true;
  }
  return errno != EEXIST && replace_file(copy, numbered);
}

}  // namespace

OutputFile::~OutputFile() {
  discard();
}

bool OutputFile::open_for_writing(const std::string& name, KindCheck kind) {
  discard();
  prepare_for_interrupts();
  ErrnoGuard keep_errno;
  name_ = name;
  verdict_ = follow_own_link(name, kind, target_);
  if (verdict_ != LinkVerdict::none && verdict_ != LinkVerdict::followed) {
    errno = ELOOP;
    return keep_errno.result(false);
  }
  return keep_errno.result(open_temporary());
}

bool OutputFile::open_for_removal(const std::string& name) {
  discard();
  prepare_for_interrupts();
  ErrnoGuard keep_errno;
  name_ = name;
  target_ = name;
  verdict_ = LinkVerdict::none;
  if (look_at(name, status_)) {  // a link goes itself
    exists_ = true;
    if (S_ISDIR(status_.st_mode)) {
      errno = EISDIR;
      return keep_errno.result(false);
    }
  } else if (errno != ENOENT) {
    return keep_errno.result(false);
  }
  removal_ = true;
  unchanged_ = !exists_;
  return true;
}

bool OutputFile::open_temporary() {
  if (!inspect_target(target_, status_, exists_)) return false;
  std::string pattern = hidden_name(target_, ".partial-XXXXXX");
  std::vector<char> made(pattern.begin(), pattern.end());
  made.push_back('\0');
  {
    const InterruptsHeld held;
    fd_ = mkstemp(made.data());
    if (fd_ < 0) return false;
    temporary_.assign(made.data());
    if (!add_pending(temporary_.c_str(), fd_)) {
      forget_temporary();
      errno = EMFILE;
      return false;
    }
  }
  if (!keep_owner_and_mode(fd_, exists_ ? &status_ : nullptr)) {
    forget_temporary();
    return false;
  }
  return true;
}

bool OutputFile::finish() {
  if (removal_) return true;
  if (fd_ < 0) return !temporary_.empty() || unchanged_;
  ErrnoGuard keep_errno;
  // A target that already holds these bytes is left as it is, modification
  // time and all: nothing is written and nothing replaced.
  if (exists_ && holds_bytes(target_, bytes_)) {
    unchanged_ = true;
    forget_temporary();
    return true;
  }
  bool written = write_all(fd_, bytes_);
  const int fd = std::exchange(fd_, -1);
  if (written) {
    written = close(fd) == 0;
  } else {
    const ErrnoGuard keep_write_errno;  // the write's failure is the one to report
    close(fd);
  }
  if (!written) discard();
  return keep_errno.result(written);
}

bool OutputFile::keep_changed_target(const std::function<std::string(unsigned)>& name_for,
                                     std::string& kept) {
  kept.clear();
  ErrnoGuard keep_errno;
  if (!exists_ || unchanged_ || !name_is_taken(target_)) return true;
  // A link to a file this user may not replace could not be removed again
  // (a sticky directory): a copy of it can.
  bool by_link = may_replace(target_);
  std::string copy;
  errno = EEXIST;  // when every name is taken
  for (unsigned n = 1; n < 100000; ++n) {
    const std::string numbered = name_for(n);
    if (name_is_taken(numbered)) continue;
    if (by_link && link_file(target_, numbered)) {
      kept = numbered;
      return true;
    }
    if (by_link && errno == EEXIST) continue;  // taken since it was looked at
    by_link = false;
    if (copy.empty() &&
        !copy_to_new_file(target_, status_, hidden_name(name_, ".partial-XXXXXX"), copy))
      return keep_errno.result(false);
    if (name_the_copy(copy, numbered)) {
      kept = numbered;
      return true;
    }
    if (errno != EEXIST) break;
  }
  const ErrnoGuard keep_failure;
  if (!copy.empty()) unlink(copy.c_str());
  return keep_errno.result(false);
}

bool OutputFile::choose_old_name() {
  if (!exists_) return true;
  if (!may_replace(target_)) return false;
  old_ = unused_hidden_name(target_, ".old-");
  return true;
}

bool OutputFile::keep_old() {
  if (old_.empty()) return true;
  old_kept_ = link_file(target_, old_);
  if (old_kept_) return true;
  if (errno == EEXIST) return false;  // planted since it was chosen: never replaced
  // No hard links here: a whole copy, which takes the name only once complete.
  std::string copy;
  old_kept_ = copy_to_new_file(target_, status_, hidden_name(target_, ".partial-XXXXXX"), copy) &&
              replace_file(copy, old_);
  if (old_kept_) return true;
  const ErrnoGuard keep_failure;
  if (!copy.empty()) unlink(copy.c_str());
  old_.clear();
  return false;
}

bool OutputFile::place() {
  const InterruptsHeld held;
  if (removal_) {
    placed_ = unlink(target_.c_str()) == 0 || errno == ENOENT;
    return placed_;
  }
  if (!replace_file(temporary_, target_)) {
    forget_temporary();
    return false;
  }
  remove_pending(temporary_.c_str());
  temporary_.clear();
  placed_ = true;
  return true;
}

bool OutputFile::put_back() {
  if (!placed_) return true;
  if (old_kept_) {
    if (!replace_file(old_, target_)) return false;
    old_kept_ = false;
  } else if (!removal_ && unlink(target_.c_str()) != 0 && errno != ENOENT) {
    return false;
  }
  placed_ = false;
  return true;
}

void OutputFile::drop_old() {
  if (old_kept_) unlink(old_.c_str());
  leave_old();
}

void OutputFile::leave_old() {
  old_.clear();
  old_kept_ = false;
}

void OutputFile::discard() {
  ErrnoGuard keep_errno;
  forget_temporary();
  bytes_.clear();
  unchanged_ = false;
  removal_ = false;
  placed_ = false;
  exists_ = false;
  drop_old();
}

void OutputFile::forget_temporary() {
  ErrnoGuard keep_errno;
  if (fd_ >= 0) close(std::exchange(fd_, -1));
  if (temporary_.empty()) return;
  const InterruptsHeld held;
  unlink(temporary_.c_str());
  remove_pending(temporary_.c_str());
  temporary_.clear();
}
