#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "files/file_system.h"
#include "files/links.h"

/// An output file that replaces its target whole or not at all.
///
/// Its new content is made in memory (bytes()); finish() writes it in one
/// piece to a temporary file beside the target, which commit_outputs renames over
/// the target. A target that already holds exactly those bytes is left as it
/// is, modification time included. Until the commit an earlier file of that
/// name keeps its content; a file that was never committed is removed when
/// the object goes away. It is put in place with the others of its set by
/// commit_outputs.
///
/// A name that is a link is written through only by the rule of
/// follow_own_link: then the link stays one and the file at its end is
/// replaced. Any other link is refused, and nothing is written through it.
/// An interrupt while the file is being written removes the temporary file
/// before the process ends.
///
/// Calls that succeed leave the error number as they found it; a call that
/// fails leaves the error number of its failing system call, for the report.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Makes the temporary file for name, a file of the kind kind checks.
  /// Fails if name exists and cannot be written, if it is a link the rule
  /// does not follow (link_verdict() says why), or if its directory does
  /// not take a new file.
  bool open_for_writing(const std::string& name, KindCheck kind);

  /// An output that removes name, if there is one, when committed (a file
  /// that another takes the place of). A link there is removed itself, never
  /// followed. Fails as open_for_writing does.
  bool open_for_removal(const std::string& name);

  /// Why open_for_writing refused a link at the name; LinkVerdict::none when it did not.
  [[nodiscard]] LinkVerdict link_verdict() const { return verdict_; }

  /// The new content, to be made before finish().
  std::vector<unsigned char>& bytes() { return bytes_; }
  [[nodiscard]] const std::vector<unsigned char>& bytes() const { return bytes_; }

  /// Writes the new content, unless the target holds it already. A failure
  /// here is a failed write: the temporary file is removed and the target
  /// stays as it was.
  bool finish();

  /// After finish(): when the target exists and holds other bytes than the
  /// new ones, keeps it under the first of name_for(1), name_for(2), ... that
  /// names no file, by a hard link where the file system allows (nothing is
  /// copied, nothing can fail half-way), else by a copy made under a hidden
  /// name first. kept is that name, or empty when nothing needed keeping.
  /// False, with the error number, when it could not be kept; the target is
  /// then not to be replaced.
  bool keep_changed_target(const std::function<std::string(unsigned)>& name_for, std::string& kept);

  /// The name as opened.
  [[nodiscard]] const std::string& name() const { return name_; }

  // The steps of putting a set in place, for commit_outputs, each after finish().

  /// Whether committing changes anything: the target holds other bytes, or
  /// is there to be removed.
  [[nodiscard]] bool changes() const { return !unchanged_; }
  [[nodiscard]] bool removes() const { return removal_; }
  /// The temporary file with the new content; empty for a removal.
  [[nodiscard]] const std::string& temporary() const { return temporary_; }
  /// The hidden name the replaced file is kept under while its set is put in
  /// place, once chosen; empty when there is no file to keep.
  [[nodiscard]] const std::string& old_name() const { return old_; }
  /// Chooses that name, if there is a target to keep. Fails when this user
  /// may not replace the target: a file that could not be replaced could not
  /// be given back its name either.
  bool choose_old_name();
  /// Keeps the target under the old name: a hard link, else a whole copy.
  bool keep_old();
  /// Puts the new content in place of the target (or removes it).
  bool place();
  /// Undoes place(): the old file back under its name. False when that
  /// fails; the old file then stays under the old name.
  bool put_back();
  /// Lets the kept old file go.
  void drop_old();
  /// Leaves the kept old file where it is, for the repair a set's record asks for.
  void leave_old();

 private:
  bool open_temporary();
  void discard();
  void forget_temporary();

  std::string name_;
  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  std::vector<unsigned char> bytes_;
  struct stat status_ {};   ///< the target as it was when opened
  bool exists_ = false;     ///< the target was there when opened
  bool unchanged_ = false;  ///< it holds the new bytes already, or is not there to remove
  bool removal_ = false;
  bool placed_ = false;  ///< put in place by the commit under way
  LinkVerdict verdict_ = LinkVerdict::none;
  std::string old_;        ///< the hidden name the replaced file is kept under meanwhile
  bool old_kept_ = false;  ///< the file is there under it
};
