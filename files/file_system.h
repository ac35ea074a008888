#pragma once

#include <sys/stat.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

// The file-system operations that output files and their sets are made of,
// on the system at hand, and the rule by which a link is followed.

/// Whether two names are the same but for the case of their ASCII letters.
bool same_but_for_case(std::string_view a, std::string_view b);

/// The directory part of path, with its trailing separator; empty for a bare name.
std::string directory_of(const std::string& path);

/// The part of path after its last separator.
std::string name_of(const std::string& path);

/// The hidden name beside path that says what a file there holds: the new
/// content, ".car1.tex.partial-XXXXXX" (a pattern for mkstemp), the old file
/// while its set is put in place, ".car1.tex.old-XXXXXX", a set's commit
/// record, ".car1.skinprep-commit", so that one left by a power loss can be
/// recognised. A long name is shortened to fit the system's limit.
std::string hidden_name(const std::string& path, const std::string& suffix);

/// Whether name (a bare name) is one that hidden_name(member, suffix +
/// "XXXXXX") stands for: those six replaced by letters or digits, as mkstemp
/// replaces them. The member's letters count in any case, as names are found.
bool is_hidden_name_of(std::string_view name, std::string_view member, std::string_view suffix);

/// A hidden name beside path, hidden_name(path, suffix + "XXXXXX") with
/// the six made random, that names no file now. Nothing is made under it.
std::string unused_hidden_name(const std::string& path, const std::string& suffix);

/// Renames from over to (the system's move, which replaces a file, on Windows).
bool replace_file(const std::string& from, const std::string& to);

/// Gives the file existing a second name; fails with EEXIST if that is
/// taken. Never writes through a link at name.
bool link_file(const std::string& existing, const std::string& name);

/// Looks at the file of that name itself, not at what a link there leads to.
bool look_at(const std::string& name, struct stat& status);

/// Whether a file belongs to the user running the tool (on Windows, which
/// the tools do not tell owners apart on, every file does).
bool belongs_to_user(const struct stat& status);

/// Whether this user may write the regular file name: asked of the system by
/// opening it for writing, neither truncating it nor through a link.
bool may_write(const std::string& name);

/// Makes a new file of that name for writing: never one that is there
/// already, nor through a link. The descriptor, or -1 with the error number.
int create_new_file(const std::string& name);

/// Opens a file for reading, never through a link, never waiting on a FIFO.
/// The descriptor, or -1 with the error number.
int open_to_read(const std::string& name);

/// The names in a directory ("" for the current one), but "." and "..";
/// none when it cannot be listed. A large directory costs its listing each
/// time, so a step that looks for several names lists it once.
std::vector<std::string> names_in(const std::string& directory);

/// Whether a file, link or directory of that name exists.
bool name_is_taken(const std::string& name);

/// Whether name is a regular file (not a link) of the user running the tool.
bool is_own_regular_file(const std::string& name);

/// Writes all of bytes to fd, however many pieces the system takes them in.
bool write_all(int fd, std::span<const unsigned char> bytes);

/// Whether this user may replace target by a rename: in a directory with
/// the sticky bit (as /tmp has), only the owner of the file or of the
/// directory may.
bool may_replace(const std::string& target);

/// Gives a new file the replaced file's owner (where allowed) and mode, or
/// the mode fopen would give a new one (existing null).
bool keep_owner_and_mode(int fd, const struct stat* existing);

/// Copies the regular file from, which must still be the file status
/// describes (a link put there meanwhile is not read), to a new file made
/// by mkstemp from pattern, with from's permission bits, never wider. made
/// names it; nothing is left when it fails.
bool copy_to_new_file(const std::string& from, const struct stat& status,
                      const std::string& pattern, std::string& made);
