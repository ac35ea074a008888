#pragma once

#include <span>
#include <string>

#include "files/file_system.h"
#include "files/links.h"
#include "files/output_file.h"

/// How putting a set in place ended.
enum class CommitResult {
  done,    ///< every file is in place
  failed,  ///< every old file is as it was (the error number says why)
  mixed,   ///< a file replaced could not be put back: the record stays for the next run's repair
};

/// Finishes every output and then puts them all in place, one right after
/// the other with interrupts held off, so that files that belong together
/// are replaced together: a failed write leaves every old file as it was.
/// Each file replaced is kept under a hidden name until all are in place,
/// so that a rename that fails (a file another user owns in a sticky
/// directory, a busy mount point) puts every old file back.
///
/// With a record name (a file in the current directory, where the outputs
/// are named too), a set of two or more files is listed there while it is
/// put in place, so that a run stopped in between by SIGKILL or a crash, or
/// one whose renames failed even while it put the old files back, is
/// repaired by the next (repair_interrupted_commit).
CommitResult commit_outputs(std::span<OutputFile* const> outputs, const std::string& record);
