#pragma once

#include <cstdio>
#include <functional>
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

  /// Flushes and closes the new content. A failure here is a failed write:
  /// the temporary file is removed and the target stays as it was.
  bool finish();

  /// After finish(): when the target exists and holds other bytes than were
  /// written, keeps it under the first of name_for(1), name_for(2), ... that
  /// names no file, by a hard link where the file system allows (nothing is
  /// copied, nothing can fail half-way), else by a copy. kept is that name,
  /// or empty when nothing needed keeping. False, with the error number, when
  /// it could not be kept; the target is then not to be replaced.
  bool keep_changed_target(const std::function<std::string(unsigned)>& name_for,
                           std::string& kept);

  /// Finishes the new content if that is not done yet, and puts it in place
  /// of the target. A failure here is a failed write: the target stays as it was.
  bool commit();

 private:
  void discard();
  void forget_temporary();

  std::string target_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
};
