#include "shell/report.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

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

void print_formatted(std::FILE* stream, const char* format, std::va_list args) {
  if (silences > 0) return;
  ErrnoGuard keep_errno;
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
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}
