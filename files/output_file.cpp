#include "files/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "files/errno_guard.h"
#include "files/input_file.h"

namespace {

// An interrupted run must not leave a temporary file behind. The temporary
// files being written are listed here, where the handler of an interrupt can
// find them: it removes them and ends the process as the interrupt would have.
// Only the handler and code that has interrupts held off touch the list.
constexpr std::size_t kMaxPending = 8;
const char* volatile pending_names[kMaxPending] = {};

#ifdef _WIN32
std::array<volatile HANDLE, kMaxPending> pending_handles = {};
HANDLE main_thread = nullptr;
CRITICAL_SECTION pending_lock;

/// Runs on a thread of its own when the console is closed or Ctrl-C or
/// Ctrl-Break is pressed. The main thread is stopped first, so that it writes
/// nothing more; files open on Windows cannot be deleted, so they are closed.
BOOL WINAPI end_on_console_event(DWORD event) {
  EnterCriticalSection(&pending_lock);
  SuspendThread(main_thread);
  for (std::size_t slot = 0; slot < kMaxPending; ++slot) {
    if (pending_names[slot] == nullptr) continue;
    CloseHandle(pending_handles[slot]);
    DeleteFileA(pending_names[slot]);
  }
  (void)event;
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

void install_interrupt_handler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  InitializeCriticalSection(&pending_lock);
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread, 0,
                  FALSE, DUPLICATE_SAME_ACCESS);
  SetConsoleCtrlHandler(end_on_console_event, TRUE);
}

/// Holds interrupts off while the list changes.
class InterruptsHeld {
 public:
  InterruptsHeld() { EnterCriticalSection(&pending_lock); }
  ~InterruptsHeld() { LeaveCriticalSection(&pending_lock); }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

void note_pending_handle(std::size_t slot, int fd) {
  pending_handles[slot] = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}
#else
constexpr std::array kInterrupts = {SIGINT, SIGHUP, SIGTERM, SIGQUIT};

extern "C" void end_on_interrupt(int signal_number) {
  // unlink, signal and raise are safe to call here; nothing else is used.
  for (const char* name : pending_names) {
    if (name != nullptr) unlink(name);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);  // held until the handler returns, then it ends the process
}

void install_interrupt_handler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = end_on_interrupt;
  sigemptyset(&action.sa_mask);
  for (const int number : kInterrupts)
    sigaddset(&action.sa_mask, number);
  for (const int number : kInterrupts) {
    struct sigaction previous {};
    // An interrupt the tool was started to ignore (nohup) stays ignored.
    if (sigaction(number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
      sigaction(number, &action, nullptr);
  }
  // A closed pipe on the console (skinsplit *.tex | head) and a file-size
  // limit would end the process there and then, temporary files and all;
  // ignored, they make the write fail, which is reported and cleaned up.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

/// Holds interrupts off while the list changes, so that the handler never
/// sees a name half made or a file already renamed.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int number : kInterrupts)
      sigaddset(&held, number);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~InterruptsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  sigset_t previous_{};
};

void note_pending_handle(std::size_t /*slot*/, int /*fd*/) {}
#endif

/// Lists a temporary file; false when the list is full.
bool add_pending(const char* name, int fd) {
  for (std::size_t slot = 0; slot < kMaxPending; ++slot) {
    if (pending_names[slot] != nullptr) continue;
    note_pending_handle(slot, fd);
    pending_names[slot] = name;
    return true;
  }
  return false;
}

void remove_pending(const char* name) {
  for (const char* volatile& slot : pending_names) {
    if (slot == name) slot = nullptr;
  }
}

#ifdef _WIN32
constexpr int kWriteProbeFlags = O_WRONLY | O_BINARY;
constexpr int kRecordFlags = O_WRONLY | O_CREAT | O_TRUNC | O_BINARY;

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
constexpr int kRecordFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;

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
    const ErrnoGuard keep_errno;  // another owner, where not allowed, is no failure
    (void)fchown(fd, existing->st_uid, existing->st_gid);
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

#ifdef _WIN32
std::string follow_links(const std::string& target) {
  return target;
}
#else
/// The file that writing to target really changes: the end of its chain of
/// symbolic links, so that a link stays a link and the file it names is
/// replaced. A chain too long or circular is left for the open to report.
std::string follow_links(const std::string& target) {
  ErrnoGuard keep_errno;
  std::string path = target;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    std::vector<char> text(static_cast<std::size_t>(link.st_size) + 1);
    const ssize_t length = readlink(path.c_str(), text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) return path;
    const std::string points_to(text.data(), static_cast<std::size_t>(length));
    // A relative link is read from the directory that holds it.
    path = points_to[0] == '/' ? points_to : directory_of(path).append(points_to);
  }
  return path;
}
#endif

/// Finds the mode (and owner) the new file should have. False, with errno set,
/// when an existing target cannot be written: replacing it would bypass that.
/// Only a regular file is replaced: a device, pipe or socket a link leads to
/// would become a file of that name, and a directory cannot be.
bool inspect_target(const std::string& target, struct stat& existing, bool& exists) {
  if (stat(target.c_str(), &existing) != 0) {
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
  // Opening for writing without truncating asks the system itself whether
  // this user may write the file, without touching its content.
  const int fd = open(target.c_str(), kWriteProbeFlags);
  if (fd < 0) return false;
  close(fd);
  return true;
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

/// Writes all of bytes to fd, however many pieces the system takes them in.
bool write_all(int fd, const std::vector<unsigned char>& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto wrote = write(fd, bytes.data() + at, static_cast<unsigned>(bytes.size() - at));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    at += static_cast<std::size_t>(wrote);
  }
  return true;
}

/// Whether a file, link or directory of that name exists.
bool name_is_taken(const std::string& name) {
  ErrnoGuard keep_errno;
  struct stat status {};
#ifdef _WIN32
  return stat(name.c_str(), &status) == 0 || errno != ENOENT;
#else
  return lstat(name.c_str(), &status) == 0 || errno != ENOENT;
#endif
}

/// Gives the file existing a second name; fails with EEXIST if that is taken.
bool link_file(const std::string& existing, const std::string& name) {
#ifdef _WIN32
  if (CreateHardLinkA(name.c_str(), existing.c_str(), nullptr) != 0) return true;
  errno = GetLastError() == ERROR_ALREADY_EXISTS ? EEXIST : EXDEV;
  return false;
#else
  return link(existing.c_str(), name.c_str()) == 0;
#endif
}

/// Copies a file whole to a new name, or leaves nothing under it.
bool copy_file(const std::string& from, const std::string& to) {
  const InputFile in = open_input(from.c_str());
  if (!in) return false;
  OutputFile out;
  return out.open(to) && read_rest(in.get(), out.bytes()) && out.commit();
}

/// Takes a hidden name beside path that nothing else has, for its old file
/// while its set is put in place: mkstemp makes an empty file of that name.
bool reserve_hidden_name(const std::string& path, std::string& reserved) {
  const std::string pattern = hidden_name(path, ".old-XXXXXX");
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  close(fd);
  reserved = name.data();
  return true;
}

/// Gives the file at path the hidden name reserved for it, by a hard link,
/// else (a file system without them) by a copy.
bool keep_under_hidden_name(const std::string& path, const std::string& reserved) {
  if (unlink(reserved.c_str()) != 0) return false;
  return link_file(path, reserved) || copy_file(path, reserved);
}

#ifdef _WIN32
bool may_replace(const std::string& /*target*/) {
  return true;
}
#else
/// Whether this user may replace target by a rename: in a directory with
/// the sticky bit (as /tmp has), only the owner of the file or of the
/// directory may. Looked at before anything is moved, since a file that
/// cannot be replaced could not be given back its hidden name either.
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
#endif

/// Writes the record of a set about to be put in place (see
/// repair_interrupted_commit), so that a run stopped between two renames
/// can be repaired by the next.
bool write_commit_record(const std::string& record, const std::string& text) {
  const int fd = ::open(record.c_str(), kRecordFlags, 0666);
  if (fd < 0) return false;
  const bool written = write_all(fd, std::vector<unsigned char>(text.begin(), text.end()));
  return close(fd) == 0 && written;
}

}  // namespace

std::string hidden_name(const std::string& path, const std::string& suffix) {
  constexpr std::size_t kLongestName = 255;
  const std::string directory = directory_of(path);
  const std::string name = path.substr(directory.size());
  return directory + "." + name.substr(0, kLongestName - 1 - suffix.size()) + suffix;
}

void prepare_for_interrupts() {
  install_interrupt_handler();
}

OutputFile::~OutputFile() {
  discard();
}

bool OutputFile::open(const std::string& target) {
  discard();
  install_interrupt_handler();
  ErrnoGuard keep_errno;
  return keep_errno.result(open_temporary(follow_links(target)));
}

bool OutputFile::open_for_removal(const std::string& target) {
  discard();
  install_interrupt_handler();
  ErrnoGuard keep_errno;
  const std::string destination = follow_links(target);
  struct stat existing {};
  if (!inspect_target(destination, existing, exists_)) return keep_errno.result(false);
  target_ = destination;
  removal_ = true;
  unchanged_ = !exists_;
  return true;
}

bool OutputFile::open_temporary(const std::string& destination) {
  struct stat existing {};
  if (!inspect_target(destination, existing, exists_)) return false;

  std::string pattern = hidden_name(destination, ".partial-XXXXXX");
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  {
    const InterruptsHeld held;
    fd_ = mkstemp(name.data());
    if (fd_ < 0) return false;
    temporary_.assign(name.data());
    if (!add_pending(temporary_.c_str(), fd_)) {
      forget_temporary();
      errno = EMFILE;
      return false;
    }
  }
  if (!keep_owner_and_mode(fd_, exists_ ? &existing : nullptr)) {
    forget_temporary();
    return false;
  }
  target_ = destination;
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
  for (unsigned n = 1; n < 100000; ++n) {
    const std::string name = name_for(n);
    if (name_is_taken(name)) continue;
    // A link to a file this user may not replace could not be removed again
    // (a sticky directory): a copy of it can.
    if (!may_replace(target_) || !link_file(target_, name)) {
      if (errno == EEXIST) continue;  // taken since it was looked at
      if (!copy_file(target_, name)) return keep_errno.result(false);
    }
    kept = name;
    return true;
  }
  errno = EEXIST;
  return keep_errno.result(false);
}

bool OutputFile::commit() {
  OutputFile* self = this;
  return commit_outputs(std::span(&self, 1), "");
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

void OutputFile::put_back() {
  if (!placed_) return;
  if (!old_.empty()) {
    replace_file(old_, target_);
    old_.clear();
  } else if (!removal_) {
    unlink(target_.c_str());
  }
  placed_ = false;
}

void OutputFile::drop_old() {
  if (!old_.empty()) unlink(old_.c_str());
  old_.clear();
}

bool commit_outputs(std::span<OutputFile* const> outputs, const std::string& record) {
  ErrnoGuard keep_errno;
  for (OutputFile* out : outputs) {
    if (!out->finish()) return keep_errno.result(false);
  }
  std::vector<OutputFile*> changing;
  for (OutputFile* out : outputs) {
    if (!out->unchanged_) changing.push_back(out);
  }
  const auto drop_old_files = [&] {
    const ErrnoGuard keep_failure;
    for (OutputFile* out : changing)
      out->drop_old();
  };
  // An interrupt now waits until every file is in place: it finds the old
  // set or the new one, never a mix, and no hidden file.
  const InterruptsHeld held;
  // Each file about to be replaced is kept under a hidden name first, so
  // that a rename failing half-way through can put every old file back. The
  // names are taken, and recorded, before any file is kept under them: a run
  // stopped at any point leaves nothing the record does not name.
  std::string text = std::string(kCommitRecordHeader) + "\n";
  for (OutputFile* out : changing) {
    if (out->exists_ &&
        (!may_replace(out->target_) || !reserve_hidden_name(out->target_, out->old_))) {
      drop_old_files();
      return keep_errno.result(false);
    }
    text += std::string(out->removal_ ? "remove" : "write") + "\t" + out->target_ + "\t" +
            out->temporary_ + "\t" + out->old_ + "\n";
  }
  const bool recorded = !record.empty() && changing.size() > 1;
  if (recorded && !write_commit_record(record, text)) {
    drop_old_files();
    return keep_errno.result(false);
  }
  for (OutputFile* out : changing) {
    if (!out->old_.empty() && !keep_under_hidden_name(out->target_, out->old_)) {
      const ErrnoGuard keep_failure;
      drop_old_files();
      if (recorded) unlink(record.c_str());
      return keep_errno.result(false);
    }
  }
  for (std::size_t n = 0; n < changing.size(); ++n) {
    if (changing[n]->place()) continue;
    const ErrnoGuard keep_failure;
    for (std::size_t back = n; back-- > 0;)
      changing[back]->put_back();
    drop_old_files();
    if (recorded) unlink(record.c_str());
    return keep_errno.result(false);
  }
  // The kept files go before the record: a run stopped in between left
  // every new file in place, which is what the record then says.
  drop_old_files();
  if (recorded) unlink(record.c_str());
  return true;
}

void OutputFile::discard() {
  ErrnoGuard keep_errno;
  forget_temporary();
  bytes_.clear();
  unchanged_ = false;
  removal_ = false;
  placed_ = false;
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

namespace {

/// One file of a recorded commit.
struct RecordedFile {
  bool removal = false;
  std::string target, temporary, old;
};

/// A name from a record, as seen from the current directory.
std::string from_record(const std::string& directory, const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':'))
    return name;
  return directory + name;
}

bool read_commit_record(const std::string& record, std::vector<RecordedFile>& files) {
  const InputFile file = open_input(record.c_str());
  std::vector<unsigned char> bytes;
  if (!file || !read_rest(file.get(), bytes)) return false;
  const std::string text(bytes.begin(), bytes.end());
  const std::string directory = directory_of(record);
  std::size_t at = text.find('\n');
  if (at == std::string::npos || text.substr(0, at) != kCommitRecordHeader) return false;
  for (++at; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line cut short: its file was not reached
    std::vector<std::string> fields;
    for (std::size_t from = at; from <= end;) {
      const std::size_t tab = std::min(text.find('\t', from), end);
      fields.push_back(text.substr(from, tab - from));
      from = tab + 1;
    }
    if (fields.size() != 4) return false;
    files.push_back({fields[0] == "remove", from_record(directory, fields[1]),
                     from_record(directory, fields[2]), from_record(directory, fields[3])});
    at = end + 1;
  }
  return true;
}

}  // namespace

RepairOutcome repair_interrupted_commit(const std::string& record, std::size_t& replaced) {
  replaced = 0;
  const ErrnoGuard keep_errno;
  struct stat status {};
  if (stat(record.c_str(), &status) != 0) return RepairOutcome::none;
  std::vector<RecordedFile> files;
  if (!read_commit_record(record, files)) return RepairOutcome::unreadable;
  // A file was replaced when its new content is no longer under its
  // temporary name (or, to be removed, it is gone).
  std::vector<bool> placed;
  bool all_kept = true;
  for (const RecordedFile& file : files) {
    placed.push_back(file.removal ? !name_is_taken(file.target) : !name_is_taken(file.temporary));
    replaced += placed.back() ? 1 : 0;
    if (placed.back() && !file.old.empty() && !name_is_taken(file.old)) all_kept = false;
  }
  for (std::size_t n = 0; n < files.size(); ++n) {
    const RecordedFile& file = files[n];
    if (all_kept && placed[n] && !file.old.empty()) {
      replace_file(file.old, file.target);
    } else if (all_kept && placed[n] && !file.removal) {
      unlink(file.target.c_str());
    } else if (!all_kept && !placed[n]) {
      if (file.removal)
        unlink(file.target.c_str());
      else
        replace_file(file.temporary, file.target);
    }
    if (!file.temporary.empty()) unlink(file.temporary.c_str());
    if (!file.old.empty()) unlink(file.old.c_str());
  }
  unlink(record.c_str());
  return all_kept ? RepairOutcome::undone : RepairOutcome::completed;
}
