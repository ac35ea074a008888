#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "files/links.h"

// What the next run does with a commit record that a stopped run left.

/// The files of a texture that one tool writes together, as the next run
/// finds them: the directory they lie in ("" for the current one, else
/// ending in a separator), the name of their record there, and their names
/// (in any case).
struct RecordedSet {
  std::string directory;
  std::string record;
  std::vector<std::string> members;
  KindCheck kind = nullptr;  ///< for a member that is a link (see follow_own_link)
};

/// What repairing an interrupted commit did.
enum class RepairOutcome {
  none,     ///< there was no record, or one cut short before anything was replaced
  undone,   ///< every old file is back, and no new one is left
  not_own,  ///< the file there is not a record of the tool's: left as it is, never acted on
  failed,   ///< a file could not be put back: the record stays for the next run
};

/// Puts back the old set that a record lists: a stopped run's set is
/// always undone, the old files back and the new ones gone. A record only
/// ever names the set's own files, bare names in its own directory: a file
/// at the record's name that belongs to another user, is no regular file,
/// or names any other file is not acted on, and why says why. replaced is
/// how many files the stopped run had replaced. A failure leaves the error
/// number of the rename that failed.
RepairOutcome repair_interrupted_commit(const RecordedSet& set, std::size_t& replaced,
                                        std::string& why);

/// Removes what a run stopped before it recorded its set (or after it
/// removed the record) left of it: the temporary files and the kept old
/// files beside each member, by their hidden names (of names, the
/// directory's, see names_in), where they are regular files of the user's own.
void remove_leftovers(const RecordedSet& set, const std::vector<std::string>& names);
