#pragma once

#include <cstdio>
#include <string>

/// An output file that replaces its target whole or not at all.
///
/// The bytes go to a temporary file beside the target, which commit() renames
/// over the target once everything was written, flushed and closed. Until
/// then an earlier file of that name keeps its content; a file that was never
/// committed is removed when the object goes away.
///
/// A target that is a symbolic link stays one: the file at the end of the
/// link is replaced. An interrupt (Ctrl-C, a closed terminal, kill) while the
/// file is being written removes the temporary file before the process ends.
///
/// Calls that succeed leave the error number as they found it; a call that
/// fails leaves the error number of its failing system call, for the report.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Makes the temporary file for target. Fails if target exists and cannot be
  /// written, or if its directory does not take a new file.
  bool open(const std::string& target);

  /// The stream to write the new content to; valid after a successful open().
  [[nodiscard]] std::FILE* stream() const { return stream_; }

  /// Flushes and closes the new content and puts it in place of the target.
  /// A failure here is a failed write: the target stays as it was.
  bool commit();

 private:
  void discard();
  void forget_temporary();

  std::string target_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
};
