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

#include <array>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "files/errno_guard.h"

namespace {

// An interrupted run must not leave a temporary file behind. The temporary
// files being written are listed here, where the handler of an interrupt can
// find them: it removes them and ends the process as the interrupt would have.
// Only the handler and code that has interrupts held off touch the list.
constexpr std::size_t kMaxPending = 4;
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
constexpr std::array kInterrupts = {SIGINT, SIGHUP, SIGTERM};

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
  install_interrupt_handler();
  const int caller_errno = errno;
  const std::string destination = follow_links(target);
  struct stat existing {};
  bool exists = false;
  if (!inspect_target(destination, existing, exists)) return false;

  // A short name, so that it fits wherever the target's own name fits.
  std::string pattern = directory_of(destination) + ".skinXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = -1;
  {
    const InterruptsHeld held;
    fd = mkstemp(name.data());
    if (fd < 0) return false;
    temporary_.assign(name.data());
    if (!add_pending(temporary_.c_str(), fd)) {
      close(fd);
      forget_temporary();
      errno = EMFILE;
      return false;
    }
  }

  if (!keep_owner_and_mode(fd, exists ? &existing : nullptr) ||
      (stream_ = fdopen(fd, "wb")) == nullptr) {
    ErrnoGuard keep_errno;
    close(fd);
    forget_temporary();
    return false;
  }
  target_ = destination;
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
  if (!flushed || !closed) {
    discard();
    return false;
  }
  {
    const InterruptsHeld held;
    if (!replace_file(temporary_, target_)) {
      forget_temporary();
      return false;
    }
    remove_pending(temporary_.c_str());
    temporary_.clear();
  }
  errno = caller_errno;
  return true;
}

void OutputFile::discard() {
  ErrnoGuard keep_errno;
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  forget_temporary();
}

void OutputFile::forget_temporary() {
  if (temporary_.empty()) return;
  ErrnoGuard keep_errno;
  const InterruptsHeld held;
  unlink(temporary_.c_str());
  remove_pending(temporary_.c_str());
  temporary_.clear();
}
