#include "formats/prep_memory.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/png.h"

namespace {

/// The keyword of the text chunk that holds the memory, and its first line.
constexpr const char* kKeyword = "skinprep";
constexpr const char* kFirstLine = "skinprep memory 2";
constexpr const char* kEarlierFirstLine = "skinprep memory 1";
constexpr std::array<const char*, kTexLevelCount> kLevelNames = {"high", "medium", "low"};

std::string hex(std::uint32_t value) {
  std::array<char, 9> text{};
  std::snprintf(text.data(), text.size(), "%08" PRIx32, value);
  return text.data();
}

/// Reads "NAME HEX" from the line at text, moving past it. False when the
/// line is not that.
bool read_line(const char*& text, const char* name, std::optional<std::uint32_t>& value) {
  char word[16] = {};
  char number[16] = {};
  int length = 0;
  if (std::sscanf(text, "%15s %15s%n", word, number, &length) != 2 || std::string(word) != name)
    return false;
  text += length;
  if (std::string(number) == "none") {
    value.reset();
    return true;
  }
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(number, &end, 16);
  if (end == number || *end != '\0' || std::strlen(number) > 8) return false;
  value = static_cast<std::uint32_t>(parsed);
  return true;
}

/// Reads "NAME HEX" into a checksum that must be there.
bool read_checksum(const char*& text, const char* name, std::uint32_t& checksum) {
  std::optional<std::uint32_t> value;
  if (!read_line(text, name, value) || !value) return false;
  checksum = *value;
  return true;
}

bool read_text(const std::string& text, PrepMemory& memory) {
  if (text.rfind(kFirstLine, 0) != 0) return false;
  const char* at = text.c_str() + std::string(kFirstLine).size();
  std::optional<std::uint32_t> value;
  if (!read_line(at, "palette-file", memory.palette_file) ||
      !read_checksum(at, "image", memory.image) || !read_checksum(at, "picture", memory.picture))
    return false;
  if (!read_line(at, "palette", value) || !value) return false;
  memory.palette = *value;
  for (std::size_t n = 0; n < kTexLevelCount; ++n) {
    if (!read_line(at, kLevelNames[n], value) || !value) return false;
    memory.levels[n] = *value;
  }
  if (!read_line(at, "texture", value) || !value) return false;
  memory.texture = *value;
  return true;
}

}  // namespace

MemoryRead read_prep_memory(std::FILE* stream, std::span<unsigned char> pixels,
                            PrepMemory& memory) {
  PngImage png;
  if (read_png(stream, png, pixels, kKeyword) != PngResult::ok || png.indexed)
    return MemoryRead::not_memory;
  if (png.text.rfind(kEarlierFirstLine, 0) == 0) return MemoryRead::earlier_version;
  if (!read_text(png.text, memory)) return MemoryRead::not_memory;
  memory.width = png.width;
  memory.height = png.height;
  memory.colours = std::span(reinterpret_cast<const Rgba*>(pixels.data()),  // NOLINT: RGBA bytes
                             memory.width * memory.height);
  return MemoryRead::ok;
}

bool write_prep_memory(ByteBuffer& out, const PrepMemory& memory) {
  std::string text = std::string(kFirstLine) + "\npalette-file " +
                     (memory.palette_file ? hex(*memory.palette_file) : "none") + "\n";
  text += "image " + hex(memory.image) + "\npicture " + hex(memory.picture) + "\n";
  text += "palette " + hex(memory.palette) + "\n";
  for (std::size_t n = 0; n < kTexLevelCount; ++n)
    text += std::string(kLevelNames[n]) + " " + hex(memory.levels[n]) + "\n";
  text += "texture " + hex(memory.texture) + "\n";
  PngPicture picture;
  picture.width = static_cast<std::uint32_t>(memory.width);
  picture.height = static_cast<std::uint32_t>(memory.height);
  picture.alpha = true;
  picture.bottom_up = memory.colours;
  picture.text_keyword = kKeyword;
  picture.text = text;
  return write_png(out, picture);
}
