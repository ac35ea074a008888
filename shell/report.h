#pragma once

#include <string>
#include <utility>
#include <vector>

// All console output of the tools goes through these functions. None of
// them changes the error number, and a failed write to the console is ignored.

/// Progress text on standard output, exactly as formatted (no line end added).
[[gnu::format(printf, 1, 2)]] void print_progress(const char* format, ...);

/// A plain failure line on standard error, exactly as formatted.
[[gnu::format(printf, 1, 2)]] void print_error(const char* format, ...);

/// The message, ": " (only when the message is not empty), the text for the
/// current error number and a line end, written unbuffered to standard error.
void print_system_error(const char* message);

/// While one lives and records, print_progress and print_error keep what
/// they would write here instead, in order, to be written later: for a text
/// that must also go into a file before it is shown.
class ConsoleRecord {
 public:
  ConsoleRecord();
  ~ConsoleRecord();
  ConsoleRecord(const ConsoleRecord&) = delete;
  ConsoleRecord& operator=(const ConsoleRecord&) = delete;

  /// Ends the recording.
  void stop();
  /// Everything recorded, both streams together.
  [[nodiscard]] std::string text() const;
  /// Writes what was recorded, each piece to its stream.
  void play() const;
  /// Keeps a piece the functions above would have written (to standard
  /// error, where error).
  void keep(bool error, std::string piece);

 private:
  std::vector<std::pair<bool, std::string>> pieces_;  ///< to standard error?, text
};

/// While one lives, the three functions above write nothing: for a step one
/// tool takes only to look at what another reads, whose words are the other's.
class ConsoleSilence {
 public:
  ConsoleSilence();
  ~ConsoleSilence();
  ConsoleSilence(const ConsoleSilence&) = delete;
  ConsoleSilence& operator=(const ConsoleSilence&) = delete;
};
