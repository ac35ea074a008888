#pragma once

#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

class OutputFile;

/// Finishes every output and then puts them all in place, one right after
/// the other with interrupts held off, so that files that belong together
/// are replaced together: a failed write leaves every old file as it was.
/// Each file replaced is kept under a hidden name until all are in place,
/// so that a rename that fails (a file another user owns in a sticky
/// directory, a busy mount point) puts every old file back.
///
/// With a record name (a file in the current directory, which the outputs'
/// names are read from), a set of two or more files is listed there while
/// it is put in place, so that a run stopped in between by SIGKILL or a
/// crash can be repaired by the next (repair_interrupted_commit).
bool commit_outputs(std::span<OutputFile* const> outputs, const std::string& record);

/// The first line of a commit record.
inline constexpr const char* kCommitRecordHeader = "commit record 1";

/// What repairing an interrupted commit did.
enum class RepairOutcome {
  none,        ///< there was no record
  undone,      ///< every old file is back, and no new one is left
  completed,   ///< the old files could not all be put back: every new one is in place
  unreadable,  ///< the record cannot be read; it is left as it is
};

/// Finishes the commit a record names (a path; the names in it are read
/// from its directory): puts back every old file where all that were
/// replaced are still kept, else puts the rest of the new set in place;
/// then removes the kept files, the temporary ones and the record.
/// replaced is how many files the stopped run had already replaced.
RepairOutcome repair_interrupted_commit(const std::string& record, std::size_t& replaced);

/// The hidden name beside path that says what a file there holds: the new
/// content, ".car1.tex.partial-XXXXXX" (a pattern for mkstemp), the old file
/// while its set is put in place, ".car1.tex.old-XXXXXX", a set's commit
/// record, ".car1.skinprep-commit", so that one left by a power loss can be
/// recognised. A long name is shortened to fit the system's limit.
std::string hidden_name(const std::string& path, const std::string& suffix);

/// Makes interrupts (Ctrl-C, Ctrl-\, a closed terminal, kill) remove the
/// temporary files being written before they end the process, and a closed
/// console pipe or a file-size limit fail the write instead of ending it.
void prepare_for_interrupts();

/// An output file that replaces its target whole or not at all.
///
/// Its new content is made in memory (bytes()); finish() writes it in one
/// piece to a temporary file beside the target, which commit() renames over
/// the target. A target that already holds exactly those bytes is left as it
/// is, modification time included. Until the commit an earlier file of that
/// name keeps its content; a file that was never committed is removed when
/// the object goes away.
///
/// A target that is a symbolic link stays one: the file at the end of the
/// link is replaced, when it is a regular file. An interrupt while the file
/// is being written removes the temporary file before the process ends.
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

  /// An output that removes its target, if there is one, when committed (a
  /// file that another takes the place of); fails as open() does.
  bool open_for_removal(const std::string& target);

  /// The new content, to be made before finish().
  std::vector<unsigned char>& bytes() { return bytes_; }

  /// Writes the new content, unless the target holds it already. A failure
  /// here is a failed write: the temporary file is removed and the target
  /// stays as it was.
  bool finish();

  /// After finish(): when the target exists and holds other bytes than the
  /// new ones, keeps it under the first of name_for(1), name_for(2), ... that
  /// names no file, by a hard link where the file system allows (nothing is
  /// copied, nothing can fail half-way), else by a copy. kept is that name,
  /// or empty when nothing needed keeping. False, with the error number, when
  /// it could not be kept; the target is then not to be replaced.
  bool keep_changed_target(const std::function<std::string(unsigned)>& name_for, std::string& kept);

  /// Finishes the new content if that is not done yet, and puts it in place
  /// of the target. A failure here is a failed write: the target stays as it was.
  bool commit();

  /// The file replaced: the target, at the end of its links.
  [[nodiscard]] const std::string& target() const { return target_; }

 private:
  friend bool commit_outputs(std::span<OutputFile* const> outputs, const std::string& record);
  bool open_temporary(const std::string& destination);
  bool place();
  void put_back();
  void drop_old();
  void discard();
  void forget_temporary();

  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  std::vector<unsigned char> bytes_;
  bool exists_ = false;     ///< the target was there when opened
  bool unchanged_ = false;  ///< it holds the new bytes already, or is not there to remove
  bool removal_ = false;
  bool placed_ = false;  ///< put in place by the commit under way
  std::string old_;      ///< the hidden name the replaced file is kept under meanwhile
};
