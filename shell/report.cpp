#include "shell/report.h"

#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "files/errno_guard.h"

namespace {

/// How many ConsoleSilence objects live.
int silences = 0;

bool is_terminal(std::FILE* stream) {
  // isatty sets ENOTTY when the answer is no; the guard keeps that from leaking.
  ErrnoGuard keep_errno;
  return isatty(fileno(stream)) == 1;
}

/// Whether a console stream is a terminal, asked once: a tool's standard
/// output and error do not change while it runs.
bool is_terminal_console(const std::FILE* stream) {
  static const bool out_is_terminal = is_terminal(stdout);
  static const bool err_is_terminal = is_terminal(stderr);
  return stream == stdout ? out_is_terminal : err_is_terminal;
}

/// The record that keeps what is written, if one records.
ConsoleRecord* recording = nullptr;

bool quiet = false;
std::string texture_shown;  ///< the texture quiet mode's lines begin with
std::vector<std::string> written;
std::vector<std::string> kept;

/// A warning or error as quiet mode shows it: on a line of its own, after
/// the texture's name, without the line ends that followed progress.
std::string quiet_line(std::string text) {
  while (!text.empty() && text.front() == '\n')
    text.erase(text.begin());
  while (text.size() > 1 && text[text.size() - 1] == '\n' && text[text.size() - 2] == '\n')
    text.pop_back();
  if (text.empty()) return text;
  return (texture_shown.empty() ? "" : texture_shown + ": ") + text;
}

/// Writes a line to standard error, standard output written out first.
void write_error(const std::string& text) {
  std::fflush(stdout);
  std::fputs((quiet ? quiet_line(text) : text).c_str(), stderr);
  if (is_terminal_console(stderr) || quiet) std::fflush(stderr);
}

void print_formatted(std::FILE* stream, const char* format, std::va_list args) {
  if (silences > 0) return;
  ErrnoGuard keep_errno;
  if (quiet && recording == nullptr) {
    if (stream == stdout) return;
    std::va_list measured;
    va_copy(measured, args);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started by va_start, as below
    const int length = std::vsnprintf(nullptr, 0, format, measured);
    va_end(measured);
    std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    std::vsnprintf(text.data(), text.size(), format, args);
    text.pop_back();
    write_error(text);
    return;
  }
  if (recording != nullptr) {
    std::va_list measured;
    va_copy(measured, args);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started by va_start, as below
    const int length = std::vsnprintf(nullptr, 0, format, measured);
    va_end(measured);
    std::string piece(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    std::vsnprintf(piece.data(), piece.size(), format, args);
    piece.pop_back();
    recording->keep(stream == stderr, std::move(piece));
    return;
  }
  // Standard output is written out before standard error, for a log.
  if (stream == stderr) std::fflush(stdout);
  // The analyzer loses track of a va_list handed on as a parameter; every
  // caller starts it with va_start.
  std::vfprintf(stream, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
  // On a terminal every message must stand on the screen before the step it
  // announces begins, so that both streams show in the order of issue.
  if (is_terminal_console(stream)) std::fflush(stream);
}

}  // namespace

ConsoleRecord::ConsoleRecord() {
  recording = this;
}

ConsoleRecord::~ConsoleRecord() {
  stop();
}

void ConsoleRecord::stop() {
  if (recording == this) recording = nullptr;
}

void ConsoleRecord::keep(bool error, std::string piece) {
  pieces_.emplace_back(error, std::move(piece));
}

std::string ConsoleRecord::text() const {
  std::string all;
  for (const auto& [error, piece] : pieces_)
    all += piece;
  return all;
}

void ConsoleRecord::play() const {
  for (const auto& [error, piece] : pieces_) {
    if (error) {
      print_error("%s", piece.c_str());
    } else {
      print_progress("%s", piece.c_str());
    }
  }
}

void print_progress(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_formatted(stdout, format, args);
  va_end(args);
}

void print_error(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_formatted(stderr, format, args);
  va_end(args);
}

ConsoleSilence::ConsoleSilence() {
  ++silences;
}

ConsoleSilence::~ConsoleSilence() {
  --silences;
}

void print_system_error(const char* message) {
  if (silences > 0) return;
  ErrnoGuard keep_errno;
  const int number = errno;
  std::string line;
  if (message[0] != '\0') {
    line += message;
    line += ": ";
  }
  // strerror gives the platform's own text, also for 0 and for numbers it does
  // not know ("Unknown error N").
  line += std::strerror(number);
  line += '\n';
  write_error(line);
  std::fflush(stderr);
}

void set_quiet(bool quiet_mode) {
  quiet = quiet_mode;
}

bool is_quiet() {
  return quiet;
}

void begin_texture(const char* name) {
  texture_shown = name;
  written.clear();
  kept.clear();
}

void note_written(const std::string& file) {
  // The tools' hidden bookkeeping files are not what the user asked for.
  const std::size_t base = file.find_last_of("/\\") + 1;
  if (file.compare(base, 1, ".") != 0) written.push_back(file);
}

void note_kept(const std::string& old_file, const std::string& kept_as) {
  kept.push_back(old_file + " as " + kept_as);
}

namespace {

/// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t n = 0; n < items.size(); ++n) {
    if (n > 0) text += n + 1 == items.size() ? " and " : ", ";
    text += items[n];
  }
  return text;
}

}  // namespace

void print_texture_result() {
  if (!quiet || written.empty()) return;
  ErrnoGuard keep_errno;
  std::string line = texture_shown + ": wrote " + listed(written);
  if (!kept.empty()) line += "; kept the old " + listed(kept);
  std::fputs((line + "\n").c_str(), stdout);
  if (is_terminal_console(stdout)) std::fflush(stdout);
}

void print_progress_failure(const char* text, const std::string& error_line) {
  if (quiet) {
    if (silences == 0) write_error(error_line);
  } else {
    print_progress("%s", text);
  }
}

void print_prompt(const char* prompt) {
  ErrnoGuard keep_errno;
  std::fputs(prompt, stdout);
  std::fflush(stdout);
}

bool console_is_interactive() {
  ErrnoGuard keep_errno;
#ifdef _WIN32
  // _isatty is true for NUL too; a console answers GetConsoleMode.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0 &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
#else
  return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
#endif
}
