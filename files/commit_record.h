#pragma once

#include <string>
#include <string_view>
#include <vector>

// A set's commit record: a line for each file after the first, each field
// escaped so that any byte a name may hold survives, and a last line that
// says it is complete:
//   commit record 2
//   write <TAB> car1.pal <TAB> .car1.pal.partial-k3J9xQ <TAB> .car1.pal.old-Xq81Lw
//   remove <TAB> car1.png <TAB> <TAB> .car1.png.old-P0o9Zt
//   end
// The member is a bare name in the record's directory; its temporary and old
// files are bare names beside the file it stands for (the end of its link).

/// One line of a record, its names as written.
struct RecordLine {
  bool removal = false;
  std::string member;
  std::string temporary;  ///< empty for a removal
  std::string old;        ///< empty where there was no file to keep
};

/// The text of a record listing lines.
std::string record_text(const std::vector<RecordLine>& lines);

/// What a record's text holds.
enum class RecordText {
  complete,   ///< every line, and the last that says so
  cut_short,  ///< the lines before it was cut, when nothing was replaced yet
  foreign,    ///< not a record of this version
};

/// Reads a record's text into lines: those complete, where it was cut short.
RecordText read_record_text(std::string_view text, std::vector<RecordLine>& lines);
