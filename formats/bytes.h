#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Byte-level helpers shared by the file formats. Every number in these formats
// is unsigned and little-endian (low byte first), but for PNG's, which are
// big-endian.

/// What a byte-by-byte read ended with. A read error and an end of file are
/// told apart because the tools report them with different messages.
enum class ReadResult { ok, read_error, end_of_file };

/// Decodes the two bytes at b as a little-endian number.
inline std::uint16_t get_u16le(const unsigned char* b) {
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

/// Decodes the four bytes at b as a little-endian number.
inline std::uint32_t get_u32le(const unsigned char* b) {
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

/// Stores value at b, low byte first.
inline void put_u16le(unsigned char* b, std::uint16_t value) {
  b[0] = static_cast<unsigned char>(value & 0xff);
  b[1] = static_cast<unsigned char>(value >> 8);
}

/// Stores value at b, low byte first.
inline void put_u32le(unsigned char* b, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    b[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xff);
}

/// Decodes the four bytes at b as a big-endian number, as PNG stores them.
inline std::uint32_t get_u32be(const unsigned char* b) {
  return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
         (static_cast<std::uint32_t>(b[2]) << 8) | static_cast<std::uint32_t>(b[3]);
}

/// Stores value at b, high byte first.
inline void put_u32be(unsigned char* b, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    b[i] = static_cast<unsigned char>((value >> (8 * (3 - i))) & 0xff);
}

// The tools are single-threaded, so the lock that getc takes on the stream
// for every byte is pure cost; this takes the stream as it is.
#ifdef _WIN32
inline int getc_unchecked_lock(std::FILE* stream) {
  return _getc_nolock(stream);
}
#else
inline int getc_unchecked_lock(std::FILE* stream) {
  return getc_unlocked(stream);
}
#endif

/// Reads one byte. The stream's error indicator is looked at before its
/// end-of-file indicator, so a failing disk is never mistaken for a short file.
inline ReadResult read_byte(std::FILE* stream, unsigned char& byte) {
  const int c = getc_unchecked_lock(stream);
  if (c == EOF) return std::ferror(stream) != 0 ? ReadResult::read_error : ReadResult::end_of_file;
  byte = static_cast<unsigned char>(c);
  return ReadResult::ok;
}

/// Fills bytes one byte at a time, stopping at the first byte that fails.
ReadResult read_bytes(std::FILE* stream, std::span<unsigned char> bytes);

/// The bytes of a file as the writers make it, whole, before it is written
/// to disk in one piece (or not at all, where the file already holds them).
using ByteBuffer = std::vector<unsigned char>;

/// Adds bytes at the end.
inline void put_bytes(ByteBuffer& out, std::span<const unsigned char> bytes) {
  const std::size_t at = out.size();
  out.resize(at + bytes.size());
  std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
}

/// Reads a fixed-size record in one read; true only if all of it came in.
bool read_record(std::FILE* stream, std::span<unsigned char> record);

/// A checksum as the tools' text records write it: eight hex digits, or
/// "none" where there is none.
std::string checksum_text(const std::optional<std::uint32_t>& checksum);

/// Reads the rest of a stream into bytes (after what they hold), in blocks;
/// false on a read error, or when more than limit bytes come.
bool read_rest_up_to(std::FILE* stream, ByteBuffer& bytes, std::size_t limit);
