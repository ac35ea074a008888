#include "files/set_commit.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "files/errno_guard.h"
#include "files/interrupts.h"

namespace {

// A set's record, one line a file after the first, each field escaped so
// that any byte a name may hold survives, and a last line that says it is
// complete:
//   commit record 2
//   write <TAB> car1.pal <TAB> .car1.pal.partial-k3J9xQ <TAB> .car1.pal.old-Xq81Lw
//   remove <TAB> car1.png <TAB> <TAB> .car1.png.old-P0o9Zt
//   end
// The member is a bare name in the record's directory; its temporary and old
// files are bare names beside the file it stands for (the end of its link).
constexpr std::string_view kRecordHeader = "commit record 2\n";
constexpr std::string_view kRecordEnd = "end\n";
constexpr std::size_t kLongestRecord = std::size_t{64} * 1024;

std::string escaped(const std::string& name) {
  std::string field;
  for (const char c : name) {
    switch (c) {
      case '\\':
        field += "\\\\";
        break;
      case '\t':
        field += "\\t";
        break;
      case '\n':
        field += "\\n";
        break;
      default:
        field += c;
    }
  }
  return field;
}

/// The name a field stands for; false for an escape the writer never makes.
bool unescaped(std::string_view field, std::string& name) {
  name.clear();
  for (std::size_t n = 0; n < field.size(); ++n) {
    if (field[n] != '\\') {
      name += field[n];
      continue;
    }
    if (++n == field.size()) return false;
    switch (field[n]) {
      case '\\':
        name += '\\';
        break;
      case 't':
        name += '\t';
        break;
      case 'n':
        name += '\n';
        break;
      default:
        return false;
    }
  }
  return true;
}

std::string record_text(std::span<OutputFile* const> changing) {
  std::string text(kRecordHeader);
  for (const OutputFile* out : changing) {
    text += std::string(out->removes() ? "remove" : "write") + "\t" +
            escaped(name_of(out->name())) + "\t" + escaped(name_of(out->temporary())) + "\t" +
            escaped(name_of(out->old_name())) + "\n";
  }
  return text.append(kRecordEnd);
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

/// One file of a recorded set, its names as seen from the current directory.
struct RecordedFile {
  bool removal = false;
  std::string target;     ///< the member, or the file at the end of its link
  std::string temporary;  ///< empty for a removal
  std::string old;        ///< empty where there was no file to keep
};

/// What a record holds, once read.
enum class RecordText { complete, cut_short, not_own };

bool same_but_for_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

/// Reads the file at a record's name; false when there is none. why says
/// what is wrong when it is not a record of the user's own: a regular file,
/// not a link, that this user owns.
bool read_record_file(const std::string& path, std::string& text, std::string& why) {
  struct stat status {};
  if (!look_at(path, status)) return false;
  if (S_ISREG(status.st_mode) && !belongs_to_user(status)) {
    why = "it belongs to another user";
    return true;
  }
  if (!S_ISREG(status.st_mode)) {
    why = "it is not a regular file";
    return true;
  }
  const int fd = open_to_read(path);
  struct stat opened {};
  if (fd < 0 || fstat(fd, &opened) != 0 || opened.st_ino != status.st_ino) {
    if (fd >= 0) close(fd);
    why = "it cannot be read as it was found";
    return true;
  }
  text.assign(kLongestRecord + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const auto now = read(fd, text.data() + got, static_cast<unsigned>(text.size() - got));
    if (now < 0 && errno == EINTR) continue;
    if (now < 0) why = "it cannot be read";
    if (now <= 0) break;
    got += static_cast<std::size_t>(now);
  }
  close(fd);
  text.resize(got);
  if (got > kLongestRecord) why = "it is larger than any record";
  return true;
}

/// Where a record's line names a member of the set, the file it stands for
/// (the end of its link, for a file written through one). False, saying
/// why, for any other name.
bool take_member(const RecordedSet& set, const std::string& member, RecordedFile& file,
                 std::string& why) {
  const bool known = std::any_of(set.members.begin(), set.members.end(), [&](const std::string& m) {
    return same_but_for_case(m, member);
  });
  if (!known || member.find_first_of("/\\") != std::string::npos) {
    why = "it names " + member + ", which is not one of the files it stands for";
    return false;
  }
  file.target = set.directory + member;
  const LinkVerdict verdict =
      file.removal ? LinkVerdict::none : follow_own_link(file.target, set.kind, file.target);
  if (verdict != LinkVerdict::none && verdict != LinkVerdict::followed) {
    why = "it names " + member + ", a link that is not followed";
    return false;
  }
  return true;
}

/// Takes the hidden files a line names beside the file it stands for:
/// names of that file's own, and files of the user's own or none.
bool take_hidden_files(const std::string& temporary, const std::string& old, RecordedFile& file,
                       std::string& why) {
  const std::string beside = directory_of(file.target);
  const std::string own = name_of(file.target);
  const bool temporary_ok =
      file.removal ? temporary.empty() : is_hidden_name_of(temporary, own, ".partial-");
  if (!temporary_ok || (!old.empty() && !is_hidden_name_of(old, own, ".old-"))) {
    why = "it names a hidden file that is not " + own + "'s";
    return false;
  }
  file.temporary = temporary.empty() ? "" : beside + temporary;
  file.old = old.empty() ? "" : beside + old;
  for (const std::string* name : {&file.temporary, &file.old}) {
    if (!name->empty() && name_is_taken(*name) && !is_own_regular_file(*name)) {
      why = "it names " + name_of(*name) + ", which is not a file of its own";
      return false;
    }
  }
  return true;
}

/// Checks one line's fields against the set; false, saying why, when it
/// names anything but the set's own files.
bool take_line(const RecordedSet& set, std::span<const std::string> fields, RecordedFile& file,
               std::string& why) {
  if (fields.size() != 4 || (fields[0] != "write" && fields[0] != "remove")) {
    why = "it is not a record of this version";
    return false;
  }
  file.removal = fields[0] == "remove";
  return take_member(set, fields[1], file, why) &&
         take_hidden_files(fields[2], fields[3], file, why);
}

RecordText parse_record(const RecordedSet& set, const std::string& text,
                        std::vector<RecordedFile>& files, std::string& why) {
  // Cut short before its first line was complete: nothing was replaced yet.
  if (text.size() < kRecordHeader.size()) {
    if (kRecordHeader.substr(0, text.size()) == text) return RecordText::cut_short;
    why = "it is not a record of this version";
    return RecordText::not_own;
  }
  if (text.compare(0, kRecordHeader.size(), kRecordHeader) != 0) {
    why = "it is not a record of this version";
    return RecordText::not_own;
  }
  for (std::size_t at = kRecordHeader.size(); at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line cut short
    if (text.compare(at, text.size() - at, kRecordEnd) == 0) return RecordText::complete;
    std::vector<std::string> fields;
    for (std::size_t from = at; from <= end;) {
      const std::size_t tab = std::min(text.find('\t', from), end);
      fields.emplace_back();
      if (!unescaped(std::string_view(text).substr(from, tab - from), fields.back())) {
        why = "it is not a record of this version";
        return RecordText::not_own;
      }
      from = tab + 1;
    }
    RecordedFile file;
    if (!take_line(set, fields, file, why)) return RecordText::not_own;
    files.push_back(file);
    at = end + 1;
  }
  return RecordText::cut_short;
}

/// Whether two names are the same file.
bool same_file(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

/// Puts one file back as it was before the stopped run. False, with the
/// error number, when its old file cannot be given back its name.
bool undo_file(const RecordedFile& file, std::size_t& replaced) {
  const bool kept = !file.old.empty() && name_is_taken(file.old);
  const bool temporary_left = !file.temporary.empty() && name_is_taken(file.temporary);
  if (file.removal) {
    // Replaced when the file is gone: the old one comes back.
    if (kept && !name_is_taken(file.target)) {
      if (!replace_file(file.old, file.target)) return false;
      ++replaced;
    } else if (kept) {
      unlink(file.old.c_str());
    }
    return true;
  }
  // Replaced when the new content has left its temporary name and the old
  // file, if any, is no longer the target.
  if (kept && !temporary_left && !same_file(file.old, file.target)) {
    if (!replace_file(file.old, file.target)) return false;
    ++replaced;
  } else if (kept) {
    unlink(file.old.c_str());
  } else if (file.old.empty() && !temporary_left && name_is_taken(file.target)) {
    unlink(file.target.c_str());  // a new file, where there was none
    ++replaced;
  }
  if (temporary_left) unlink(file.temporary.c_str());
  return true;
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
  if (recorded && !write_commit_record(record, record_text(changing))) return false;
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
  return result;
}

RepairOutcome repair_interrupted_commit(const RecordedSet& set, std::size_t& replaced,
                                        std::string& why) {
  replaced = 0;
  why.clear();
  ErrnoGuard keep_errno;
  const std::string path = set.directory + set.record;
  std::string text;
  if (!read_record_file(path, text, why)) return RepairOutcome::none;
  if (!why.empty()) return RepairOutcome::not_own;
  std::vector<RecordedFile> files;
  const RecordText read = parse_record(set, text, files, why);
  if (read == RecordText::not_own) return RepairOutcome::not_own;
  if (read == RecordText::cut_short) {
    // Nothing is kept or replaced before the record is complete.
    for (const RecordedFile& file : files) {
      if (!file.temporary.empty()) unlink(file.temporary.c_str());
    }
    unlink(path.c_str());
    return RepairOutcome::none;
  }
  bool all_back = true;
  int failure = 0;
  for (const RecordedFile& file : files) {
    if (undo_file(file, replaced)) continue;
    all_back = false;
    failure = errno;
  }
  if (!all_back) {
    errno = failure;
    keep_errno.result(false);
    return RepairOutcome::failed;
  }
  unlink(path.c_str());
  return RepairOutcome::undone;
}

void remove_leftovers(const RecordedSet& set) {
  const ErrnoGuard keep_errno;
  DIR* listing = opendir(set.directory.empty() ? "." : set.directory.c_str());
  if (listing == nullptr) return;
  std::vector<std::string> left;
  while (const dirent* entry = readdir(listing)) {
    const std::string_view name = entry->d_name;
    for (const std::string& member : set.members) {
      if (is_hidden_name_of(name, member, ".partial-") || is_hidden_name_of(name, member, ".old-"))
        left.emplace_back(name);
    }
  }
  closedir(listing);
  for (const std::string& name : left) {
    const std::string path = set.directory + name;
    if (is_own_regular_file(path)) unlink(path.c_str());
  }
}
