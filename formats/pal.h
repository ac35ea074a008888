#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "formats/bytes.h"
#include "formats/tex.h"

// The RIFF palette file: a "RIFF" chunk of form "PAL " holding one "data"
// chunk with a version, an entry count and 256 entries of red, green, blue and
// a flags byte, which carries the palette's alpha. Four zero bytes end it.

inline constexpr std::size_t kPalHeaderSize = 24;

struct PalHeader {
  std::array<char, 4> riff_id{};
  std::uint32_t riff_size = 0;  ///< the file length less 8
  std::array<char, 4> form_type{};
  std::array<char, 4> data_id{};
  std::uint32_t data_size = 0;  ///< version, count, entries and the terminator
  std::uint16_t version = 0;
  std::uint16_t entry_count = 0;
};

/// The header of every palette file the splitter writes. Both chunk sizes count
/// the four-byte terminator (1032 = 4 + 1024 + 4), as existing files do.
inline constexpr PalHeader kPalHeader = {
    {'R', 'I', 'F', 'F'}, 1044, {'P', 'A', 'L', ' '}, {'d', 'a', 't', 'a'}, 1032, 0x0300, 256};

/// Writes the fixed 24-byte header.
void write_pal_header(ByteBuffer& out);

/// Writes the 256 entries as red, green, blue, alpha (palette bytes 2, 1, 0, 3).
void write_pal_entries(ByteBuffer& out, const TexPalette& palette);

/// Writes the four zero bytes that end the file.
void write_pal_terminator(ByteBuffer& out);

/// Reads the 24 header bytes in one read; they are not checked, so files from
/// other programs with other sizes or versions are read all the same.
bool read_pal_header(std::FILE* stream, PalHeader& header);

/// Whether the first bytes of a file read as a RIFF palette file: "RIFF",
/// then the form "PAL " and its "data" chunk.
bool pal_head_is_valid(std::span<const unsigned char> head);

/// Reads exactly 256 entries back into palette order (file bytes 0 and 2
/// exchanged); nothing after the last entry is read.
ReadResult read_pal_entries(std::FILE* stream, TexPalette& palette);
