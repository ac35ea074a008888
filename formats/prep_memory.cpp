#include "formats/prep_memory.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "formats/png.h"

namespace {

/// The keyword of the text chunk that holds the memory, and its first line.
constexpr const char* kKeyword = "skinprep";
constexpr std::string_view kFirstLine = "skinprep memory 2";
constexpr std::string_view kEarlierFirstLine = "skinprep memory 1";
constexpr std::array<const char*, kTexLevelCount> kLevelNames = {"high", "medium", "low"};

/// A warning as one line: backslashes, line ends and other control
/// characters written as escapes.
std::string escaped(const std::string& text) {
  std::string line;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      line += "\\\\";
    } else if (byte < 0x20 || byte == 0x7f) {
      std::array<char, 5> code{};
      std::snprintf(code.data(), code.size(), "\\x%02x", byte);
      line += code.data();
    } else {
      line += c;
    }
  }
  return line;
}

/// The text an escaped line stands for; empty when it is not one.
std::optional<std::string> unescaped(std::string_view line) {
  std::string text;
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (line[at] != '\\') {
      text += line[at];
    } else if (at + 1 < line.size() && line[at + 1] == '\\') {
      text += '\\';
      ++at;
    } else if (at + 3 < line.size() && line[at + 1] == 'x') {
      const std::string digits(line.substr(at + 2, 2));
      char* end = nullptr;
      text += static_cast<char>(std::strtoul(digits.c_str(), &end, 16));
      if (end != digits.c_str() + 2) return std::nullopt;
      at += 3;
    } else {
      return std::nullopt;
    }
  }
  return text;
}

/// A checksum as the record writes it: eight hex digits, or "none".
bool parse_checksum(std::string_view value, std::optional<std::uint32_t>& checksum) {
  if (value == "none") {
    checksum.reset();
    return true;
  }
  if (value.size() != 8) return false;
  const std::string digits(value);
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(digits.c_str(), &end, 16);
  if (end != digits.c_str() + 8) return false;
  checksum = static_cast<std::uint32_t>(parsed);
  return true;
}

/// Where each line of the record goes.
struct RecordFields {
  std::optional<std::uint32_t> image, picture, texture_welded, palette, texture, page, rest;
  std::array<std::optional<std::uint32_t>, kTexLevelCount> levels;
  bool palette_file_seen = false;
  bool texture_read_seen = false;
};

/// Takes one line "NAME VALUE" of the record; false when it is not one.
bool take_line(std::string_view name, std::string_view value, RecordFields& fields,
               PrepMemory& memory) {
  if (name == "options") {
    memory.options = value;
    return !value.empty();
  }
  if (name == "warning" || name == "texture-warning") {
    const std::optional<std::string> text = unescaped(value);
    if (!text) return false;
    (name == "warning" ? memory.warnings : memory.texture_warnings).push_back(*text);
    return true;
  }
  if (name == "palette-file") {
    fields.palette_file_seen = true;
    return parse_checksum(value, memory.palette_file);
  }
  if (name == "texture-read") {
    fields.texture_read_seen = true;
    return parse_checksum(value, memory.texture_read);
  }
  const std::pair<std::string_view, std::optional<std::uint32_t>*> checksums[] = {
      {"image", &fields.image},
      {"picture", &fields.picture},
      {"palette", &fields.palette},
      {"texture-welded", &fields.texture_welded},
      {"texture", &fields.texture},
      {"page", &fields.page},
      {"rest", &fields.rest},
      {kLevelNames[0], fields.levels.data()},
      {kLevelNames[1], &fields.levels[1]},
      {kLevelNames[2], &fields.levels[2]},
  };
  for (const auto& [field, checksum] : checksums) {
    if (name == field) return parse_checksum(value, *checksum) && checksum->has_value();
  }
  return false;
}

/// Moves the fields every record has into memory; false when one is missing.
bool take_fields(const RecordFields& fields, PrepMemory& memory) {
  for (const std::optional<std::uint32_t>& level : fields.levels) {
    if (!level) return false;
  }
  if (!fields.image || !fields.picture || !fields.texture_welded || !fields.palette ||
      !fields.texture || !fields.page || !fields.palette_file_seen || !fields.texture_read_seen ||
      memory.options.empty())
    return false;
  memory.image = *fields.image;
  memory.picture = *fields.picture;
  memory.texture_welded = *fields.texture_welded;
  memory.palette = *fields.palette;
  for (std::size_t n = 0; n < kTexLevelCount; ++n)
    memory.levels[n] = *fields.levels[n];
  memory.texture = *fields.texture;
  memory.page = *fields.page;
  return true;
}

/// Reads the record's lines after the first; rest is the checksum its last
/// line gives of what follows the text.
bool read_record_text(std::string_view text, PrepMemory& memory, std::uint32_t& rest) {
  RecordFields fields;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos ||
        !take_line(line.substr(0, space), line.substr(space + 1), fields, memory))
      return false;
  }
  if (!fields.rest || !take_fields(fields, memory)) return false;
  rest = *fields.rest;
  return true;
}

/// The colours of a palette image's indices, written over them from the end
/// back (four bytes for each byte read); false when one lacks its entry.
bool expand_indices(const PngImage& png, std::span<unsigned char> pixels) {
  const std::size_t count = std::size_t{png.width} * png.height;
  for (std::size_t k = count; k-- > 0;) {
    const unsigned char index = pixels[k];
    if (!png.map.present[index]) return false;
    std::copy_n(png.map.colour[index].begin(), 4, &pixels[4 * k]);
  }
  return true;
}

}  // namespace

MemoryRead read_prep_memory_record(std::span<const unsigned char> file, PrepMemory& memory,
                                   MemoryTrust trust) {
  std::string text;
  std::span<const unsigned char> pixels;
  if (!find_png_text(file, kKeyword, text, pixels)) return MemoryRead::not_memory;
  if (text.starts_with(kEarlierFirstLine)) return MemoryRead::earlier_version;
  if (!text.starts_with(std::string(kFirstLine) + "\n")) return MemoryRead::not_memory;
  std::uint32_t rest = 0;
  PrepMemory record;
  if (!read_record_text(std::string_view(text).substr(kFirstLine.size() + 1), record, rest) ||
      (trust == MemoryTrust::whole && crc32_of(pixels) != rest))
    return MemoryRead::not_memory;
  memory = record;
  return MemoryRead::ok;
}

MemoryRead read_prep_memory(std::FILE* stream, std::span<unsigned char> pixels,
                            PrepMemory& memory) {
  ByteBuffer file;
  if (!read_rest_up_to(stream, file, kMemoryFileLimit)) return MemoryRead::not_memory;
  const MemoryRead record = read_prep_memory_record(file, memory);
  if (record != MemoryRead::ok) return record;
  PngImage png;
  std::rewind(stream);
  if (read_png(stream, png, pixels) != PngResult::ok ||
      (png.indexed && !expand_indices(png, pixels)))
    return MemoryRead::not_memory;
  memory.width = png.width;
  memory.height = png.height;
  memory.colours = std::span(reinterpret_cast<const Rgba*>(pixels.data()),  // NOLINT: RGBA bytes
                             memory.width * memory.height);
  return MemoryRead::ok;
}

bool write_prep_memory(ByteBuffer& out, const PrepMemory& memory) {
  std::string text = std::string(kFirstLine) + "\noptions " + memory.options + "\n";
  text += "palette-file " + checksum_text(memory.palette_file) + "\n";
  text +=
      "image " + checksum_text(memory.image) + "\npicture " + checksum_text(memory.picture) + "\n";
  text += "texture-read " + checksum_text(memory.texture_read) + "\n";
  text += "texture-welded " + checksum_text(memory.texture_welded) + "\n";
  text += "palette " + checksum_text(memory.palette) + "\n";
  for (std::size_t n = 0; n < kTexLevelCount; ++n)
    text += std::string(kLevelNames[n]) + " " + checksum_text(memory.levels[n]) + "\n";
  text +=
      "texture " + checksum_text(memory.texture) + "\npage " + checksum_text(memory.page) + "\n";
  for (const std::string& warning : memory.warnings)
    text += "warning " + escaped(warning) + "\n";
  for (const std::string& warning : memory.texture_warnings)
    text += "texture-warning " + escaped(warning) + "\n";
  PngPicture picture;
  picture.width = static_cast<std::uint32_t>(memory.width);
  picture.height = static_cast<std::uint32_t>(memory.height);
  picture.alpha = true;
  picture.bottom_up = memory.colours;
  std::vector<unsigned char> indices;
  std::vector<Rgba> entries;
  if (as_palette_picture(memory.colours, indices, entries)) {
    picture.indices_bottom_up = indices;
    picture.palette = entries;
  }
  picture.text_keyword = kKeyword;
  picture.text = text;
  picture.text_checks_rest = true;
  return write_png(out, picture);
}
