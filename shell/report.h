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

// Standard output is always written out before anything goes to standard
// error, so that a log of both keeps the order a terminal shows.

/// Quiet mode (-q, --quiet): no progress; every warning and error still on
/// standard error, on a line of its own that begins with the texture's name,
/// and at most one line a texture on standard output: what was written.
void set_quiet(bool quiet_mode);
[[nodiscard]] bool is_quiet();

/// The texture the lines that follow are about, as the user named it; its
/// notes of what was written begin afresh.
void begin_texture(const char* name);

/// Notes, for quiet mode's line, a file written (or removed) and an old one kept.
void note_written(const std::string& file);
void note_kept(const std::string& old_file, const std::string& kept_as);

/// In quiet mode, the texture's one line on standard output: what was
/// written, where anything was; else nothing.
void print_texture_result();

/// A failure that continues a progress line with text; in quiet mode,
/// where there is no progress, error_line alone on standard error.
void print_progress_failure(const char* text, const std::string& error_line);

/// The closing prompt, on standard output in every mode.
void print_prompt(const char* prompt);

/// Whether someone at a console can answer a prompt: standard input and
/// output are both a terminal (on Windows, a console, as GetConsoleMode tells).
[[nodiscard]] bool console_is_interactive();

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
