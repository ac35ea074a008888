#include "files/interrupts.h"

#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include <algorithm>
#include <array>
#include <csignal>
#include <cstddef>
#include <cstdio>

namespace {

// Only the handler and code that has interrupts held off touch the list.
constexpr std::size_t kMaxPending = 8;
const char* volatile pending_names[kMaxPending] = {};

// The lines an interrupt writes about the texture at hand, made before it
// comes, since the handler may only write them.
constexpr std::size_t kLongestNote = 640;
std::array<char, kLongestNote> left_note{};
std::array<char, kLongestNote> replaced_note{};
volatile std::size_t left_length = 0;
volatile std::size_t replaced_length = 0;
volatile bool texture_replaced = false;

/// The line about the texture at hand.
const char* interrupt_note(std::size_t& length) {
  length = texture_replaced ? replaced_length : left_length;
  return texture_replaced ? replaced_note.data() : left_note.data();
}

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
  std::size_t length = 0;
  const char* note = interrupt_note(length);
  DWORD wrote = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), note, static_cast<DWORD>(length), &wrote, nullptr);
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

void note_pending_handle(std::size_t slot, int fd) {
  pending_handles[slot] = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}
#else
constexpr std::array kInterrupts = {SIGINT, SIGHUP, SIGTERM, SIGQUIT};

extern "C" void end_on_interrupt(int signal_number) {
  // unlink, write, signal and raise are safe to call here; nothing else is used.
  for (const char* name : pending_names) {
    if (name != nullptr) unlink(name);
  }
  std::size_t length = 0;
  const char* note = interrupt_note(length);
  // Nothing can be done if the line cannot be written; the files are safe.
  [[maybe_unused]] const ssize_t wrote = write(2, note, length);
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

void note_pending_handle(std::size_t /*slot*/, int /*fd*/) {}
#endif

}  // namespace

void prepare_for_interrupts() {
  install_interrupt_handler();
}

namespace {

/// Fills a note: "\n", the words around the name, cut to fit; its length.
std::size_t make_note(std::array<char, kLongestNote>& note, const char* before, const char* name,
                      const char* after) {
  const int length = std::snprintf(note.data(), note.size(), "\n%s%s%s\n", before, name, after);
  return length < 0 ? 0 : std::min(static_cast<std::size_t>(length), note.size() - 1);
}

}  // namespace

void note_interrupted_texture(const char* name) {
  const InterruptsHeld held;
  left_length = make_note(left_note, "Interrupted: ", name, " is left as it was.");
  replaced_length =
      make_note(replaced_note, "Interrupted: the new files of ", name, " are all in place.");
  texture_replaced = false;
}

void note_texture_replaced() {
  texture_replaced = true;
}

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
InterruptsHeld::InterruptsHeld() {
  install_interrupt_handler();
  EnterCriticalSection(&pending_lock);
}

InterruptsHeld::~InterruptsHeld() {
  LeaveCriticalSection(&pending_lock);
}
#else
InterruptsHeld::InterruptsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int number : kInterrupts)
    sigaddset(&held, number);
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

InterruptsHeld::~InterruptsHeld() {
  sigprocmask(SIG_SETMASK, &previous_, nullptr);
}
#endif
