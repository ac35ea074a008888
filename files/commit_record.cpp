#include "files/commit_record.h"

#include <algorithm>

namespace {

constexpr std::string_view kRecordHeader = "commit record 2\n";
constexpr std::string_view kRecordEnd = "end\n";

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

/// The fields of the line from at to end (its line feed), unescaped; false
/// for a line the writer never makes.
bool read_fields(std::string_view text, std::size_t at, std::size_t end, RecordLine& line) {
  std::vector<std::string> fields;
  for (std::size_t from = at; from <= end;) {
    const std::size_t tab = std::min(text.find('\t', from), end);
    fields.emplace_back();
    if (!unescaped(text.substr(from, tab - from), fields.back())) return false;
    from = tab + 1;
  }
  if (fields.size() != 4 || (fields[0] != "write" && fields[0] != "remove")) return false;
  line = {fields[0] == "remove", fields[1], fields[2], fields[3]};
  return true;
}

}  // namespace

std::string record_text(const std::vector<RecordLine>& lines) {
  std::string text(kRecordHeader);
  for (const RecordLine& line : lines) {
    text += std::string(line.removal ? "remove" : "write") + "\t" + escaped(line.member) + "\t" +
            escaped(line.temporary) + "\t" + escaped(line.old) + "\n";
  }
  return text.append(kRecordEnd);
}

RecordText read_record_text(std::string_view text, std::vector<RecordLine>& lines) {
  // Cut short before its first line was complete: nothing was replaced yet.
  if (text.size() < kRecordHeader.size())
    return kRecordHeader.substr(0, text.size()) == text ? RecordText::cut_short
                                                        : RecordText::foreign;
  if (text.substr(0, kRecordHeader.size()) != kRecordHeader) return RecordText::foreign;
  for (std::size_t at = kRecordHeader.size(); at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) break;  // a line cut short
    if (text.substr(at) == kRecordEnd) return RecordText::complete;
    RecordLine line;
    if (!read_fields(text, at, end, line)) return RecordText::foreign;
    lines.push_back(line);
    at = end + 1;
  }
  return RecordText::cut_short;
}
