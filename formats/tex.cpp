#include "formats/tex.h"

#include <algorithm>

namespace {

bool read_u16le(std::FILE* stream, std::uint16_t& value) {
  unsigned char low = 0;
  unsigned char high = 0;
  if (read_byte(stream, low) != ReadResult::ok) return false;
  if (read_byte(stream, high) != ReadResult::ok) return false;
  value = static_cast<std::uint16_t>(low + 256 * high);
  return true;
}

}  // namespace

TexDimensionsResult read_tex_dimensions(std::FILE* stream, std::uint16_t& x, std::uint16_t& y) {
  if (!read_u16le(stream, x)) return TexDimensionsResult::x_missing;
  if (!read_u16le(stream, y)) return TexDimensionsResult::y_missing;
  return TexDimensionsResult::ok;
}

std::optional<TexSubtype> read_tex_subtype(std::FILE* stream) {
  unsigned char byte = 0;
  if (read_byte(stream, byte) != ReadResult::ok) return std::nullopt;
  return static_cast<TexSubtype>(byte);
}

bool tex_head_is_valid(std::span<const unsigned char> head) {
  return head.size() >= kTexHeaderSize && get_u16le(head.data()) <= kTexMaxDimension &&
         get_u16le(&head[2]) <= kTexMaxDimension;
}

namespace {

std::size_t level_pixels(unsigned x, unsigned y, std::size_t level) {
  const TexSize size = tex_level_size(x, y, level);
  return std::size_t{size.x} * size.y;
}

/// Level n of levels, const or not.
template <typename Levels>
auto level_of(Levels& levels, std::size_t n, unsigned x, unsigned y) {
  const std::size_t pixels = level_pixels(x, y, n);
  return n == 0   ? std::span(levels.high).first(pixels)
         : n == 1 ? std::span(levels.medium).first(pixels)
                  : std::span(levels.low).first(pixels);
}

}  // namespace

std::uint64_t tex_written_length(unsigned x, unsigned y) {
  std::uint64_t length = kTexPixelOffset;
  for (std::size_t level = 0; level < kTexLevelCount; ++level)
    length += level_pixels(x, y, level);
  return length;
}

std::span<unsigned char> tex_level(TexLevels& levels, std::size_t n, unsigned x, unsigned y) {
  return level_of(levels, n, x, y);
}

std::span<const unsigned char> tex_level(const TexLevels& levels, std::size_t n, unsigned x,
                                         unsigned y) {
  return level_of(levels, n, x, y);
}

unsigned tex_bytes_per_pixel(TexSubtype subtype) {
  switch (subtype) {
    case TexSubtype::indexed:
    case TexSubtype::indexed_expanded:
      return 1;
    case TexSubtype::truecolour24:
      return 3;
    case TexSubtype::truecolour32:
      return 4;
  }
  return 0;
}

ReadResult read_tex_palette(std::FILE* stream, TexPalette& palette) {
  for (TexPaletteEntry& entry : palette) {
    const ReadResult result = read_bytes(stream, entry);
    if (result != ReadResult::ok) return result;
  }
  return ReadResult::ok;
}

ReadResult read_tex_levels(std::FILE* stream, TexSize size, TexPalette& palette,
                           TexLevels& levels) {
  if (std::fseek(stream, kTexPaletteOffset, SEEK_SET) != 0) return ReadResult::read_error;
  ReadResult result = read_tex_palette(stream, palette);
  for (std::size_t n = 0; n < kTexLevelCount && result == ReadResult::ok; ++n)
    result = read_bytes(stream, tex_level(levels, n, size.x, size.y));
  return result;
}

void write_tex_header(ByteBuffer& out, const TexHeader& header) {
  std::array<unsigned char, kTexHeaderSize> bytes{};
  put_u16le(bytes.data(), header.x_size);
  put_u16le(&bytes[2], header.y_size);
  std::copy(header.tail.begin(), header.tail.end(), bytes.begin() + kTexTailOffset);
  put_bytes(out, bytes);
}

void write_tex_palette(ByteBuffer& out, const TexPalette& palette) {
  for (const TexPaletteEntry& entry : palette)
    put_bytes(out, entry);
}

void write_tex_level(ByteBuffer& out, std::span<const unsigned char> level) {
  put_bytes(out, level);
}
