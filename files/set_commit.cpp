#include "files/set_commit.h"

#include <unistd.h>

#include <vector>

#include "files/commit_record.h"
#include "files/errno_guard.h"
#include "files/interrupts.h"

namespace {

/// The record of the files a set changes.
std::string record_of(std::span<OutputFile* const> changing) {
  std::vector<RecordLine> lines;
  for (const OutputFile* out : changing) {
    lines.push_back({out->removes(), name_of(out->name()), name_of(out->temporary()),
                     name_of(out->old_name())});
  }
  return record_text(lines);
}

/// Makes the record, which must be a new file: a file or link someone else
/// put at its name is never written through.
bool write_commit_record(const std::string& record, const std::string& text) {
  const int fd = create_new_file(record);
  if (fd < 0) return false;
  const bool written =
      write_all(fd, std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
  const bool closed = close(fd) == 0;
  if (!written || !closed) {
    const ErrnoGuard keep_failure;
    unlink(record.c_str());
  }
  return written && closed;
}

/// Keeps each file about to be replaced under a hidden name, so that a
/// rename failing half-way through can put every old file back. The names
/// are chosen, and recorded, before any file is kept under them: a run
/// stopped at any point leaves nothing the record does not name.
bool keep_old_files(std::span<OutputFile* const> changing, const std::string& record,
                    bool recorded) {
  for (OutputFile* out : changing) {
    if (!out->choose_old_name()) return false;
  }
  if (recorded && !write_commit_record(record, record_of(changing))) return false;
  for (OutputFile* out : changing) {
    if (out->keep_old()) continue;
    const ErrnoGuard keep_failure;
    if (recorded) unlink(record.c_str());
    return false;
  }
  return true;
}

/// Puts the files in place in order; where one fails, puts those before it
/// back. Where one of those cannot be put back either, the record and the
/// old files it names stay for the next run: the set is mixed meanwhile.
CommitResult place_in_order(std::span<OutputFile* const> changing, const std::string& record,
                            bool recorded) {
  for (std::size_t n = 0; n < changing.size(); ++n) {
    if (changing[n]->place()) continue;
    const ErrnoGuard keep_failure;
    bool all_back = true;
    for (std::size_t back = n; back-- > 0;)
      all_back = changing[back]->put_back() && all_back;
    if (all_back || !recorded) {
      if (recorded) unlink(record.c_str());
      return CommitResult::failed;
    }
    for (OutputFile* out : changing)
      out->leave_old();
    return CommitResult::mixed;
  }
  // The record goes before the kept files: a run stopped in between left
  // every new file in place, and hidden old files that the next run removes.
  if (recorded && unlink(record.c_str()) != 0) {
    for (OutputFile* out : changing)
      out->leave_old();
    return CommitResult::failed;
  }
  return CommitResult::done;
}

}  // namespace

CommitResult commit_outputs(std::span<OutputFile* const> outputs, const std::string& record) {
  ErrnoGuard keep_errno;
  std::vector<OutputFile*> changing;
  for (OutputFile* out : outputs) {
    if (!out->finish()) {
      keep_errno.result(false);
      return CommitResult::failed;
    }
    if (out->changes()) changing.push_back(out);
  }
  // An interrupt now waits until every file is in place: it finds the old
  // set or the new one, never a mix, and no hidden file.
  const InterruptsHeld held;
  const bool recorded = !record.empty() && changing.size() > 1;
  CommitResult result = CommitResult::failed;
  if (keep_old_files(changing, record, recorded))
    result = place_in_order(changing, record, recorded);
  const ErrnoGuard keep_failure;
  for (OutputFile* out : changing)
    out->drop_old();  // none is left where the record still needs them
  keep_errno.result(result == CommitResult::done);
  if (result == CommitResult::done && !changing.empty()) note_texture_replaced();
  return result;
}
