#include "files/commit_repair.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string_view>

#include "files/commit_record.h"
#include "files/errno_guard.h"
#include "files/file_system.h"

namespace {

/// What a hidden file's name ends in, before its six letters: a new file
/// being written, and an old one kept until the set is in place.
constexpr std::string_view kPartialSuffix = ".partial-";
constexpr std::string_view kOldSuffix = ".old-";
constexpr std::array<std::string_view, 2> kLeftoverSuffixes = {kPartialSuffix, kOldSuffix};

constexpr std::size_t kLongestRecord = std::size_t{64} * 1024;

/// One file of a recorded set, its names as seen from the current directory.
struct RecordedFile {
  bool removal = false;
  std::string target;     ///< the member, or the file at the end of its link
  std::string temporary;  ///< empty for a removal
  std::string old;        ///< empty where there was no file to keep
};

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
      file.removal ? temporary.empty() : is_hidden_name_of(temporary, own, kPartialSuffix);
  if (!temporary_ok || (!old.empty() && !is_hidden_name_of(old, own, kOldSuffix))) {
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

/// Checks a record's lines against the set; false, saying why, when one
/// names anything but the set's own files.
bool take_lines(const RecordedSet& set, const std::vector<RecordLine>& lines,
                std::vector<RecordedFile>& files, std::string& why) {
  for (const RecordLine& line : lines) {
    RecordedFile file;
    file.removal = line.removal;
    if (!take_member(set, line.member, file, why) ||
        !take_hidden_files(line.temporary, line.old, file, why))
      return false;
    files.push_back(file);
  }
  return true;
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

/// Whether name may be a leftover of some member: hidden, and ending in a
/// leftover's suffix and six letters (the cheap part of is_hidden_name_of).
/// Most names of a large tga/ are not, and are passed over before each
/// member is tried.
bool may_be_leftover(std::string_view name) {
  if (name.empty() || name[0] != '.') return false;
  return std::ranges::any_of(kLeftoverSuffixes, [name](std::string_view suffix) {
    return name.size() > suffix.size() + 7 &&
           same_but_for_case(name.substr(name.size() - 6 - suffix.size(), suffix.size()), suffix);
  });
}

}  // namespace

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
  std::vector<RecordLine> lines;
  const RecordText read = read_record_text(text, lines);
  if (read == RecordText::foreign) why = "it is not a record of this version";
  if (read == RecordText::foreign || !take_lines(set, lines, files, why))
    return RepairOutcome::not_own;
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

void remove_leftovers(const RecordedSet& set, const std::vector<std::string>& names) {
  const ErrnoGuard keep_errno;
  for (const std::string& name : names) {
    if (!may_be_leftover(name)) continue;
    for (const std::string& member : set.members) {
      if (std::ranges::none_of(kLeftoverSuffixes, [&](std::string_view suffix) {
            return is_hidden_name_of(name, member, suffix);
          }))
        continue;
      const std::string path = set.directory + name;
      if (is_own_regular_file(path)) unlink(path.c_str());
      break;
    }
  }
}
