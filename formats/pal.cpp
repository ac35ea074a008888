#include "formats/pal.h"

#include <algorithm>

namespace {

using PalBytes = std::array<unsigned char, kPalHeaderSize>;

PalBytes encode_pal_header(const PalHeader& h) {
  PalBytes b{};
  std::copy(h.riff_id.begin(), h.riff_id.end(), b.data());
  put_u32le(&b[4], h.riff_size);
  std::copy(h.form_type.begin(), h.form_type.end(), &b[8]);
  std::copy(h.data_id.begin(), h.data_id.end(), &b[12]);
  put_u32le(&b[16], h.data_size);
  put_u16le(&b[20], h.version);
  put_u16le(&b[22], h.entry_count);
  return b;
}

PalHeader decode_pal_header(const PalBytes& b) {
  PalHeader h;
  std::copy(b.data(), &b[4], h.riff_id.begin());
  h.riff_size = get_u32le(&b[4]);
  std::copy(&b[8], &b[12], h.form_type.begin());
  std::copy(&b[12], &b[16], h.data_id.begin());
  h.data_size = get_u32le(&b[16]);
  h.version = get_u16le(&b[20]);
  h.entry_count = get_u16le(&b[22]);
  return h;
}

// File entry byte i holds palette entry byte kEntryOrder[i]: red and blue
// change places, green and alpha stay. The same map serves both directions.
constexpr std::array<std::size_t, 4> kEntryOrder = {2, 1, 0, 3};

}  // namespace

bool pal_head_is_valid(std::span<const unsigned char> head) {
  if (head.size() < kPalHeaderSize) return false;
  PalBytes bytes{};
  std::copy_n(head.begin(), kPalHeaderSize, bytes.begin());
  const PalHeader h = decode_pal_header(bytes);
  return h.riff_id == kPalHeader.riff_id && h.form_type == kPalHeader.form_type &&
         h.data_id == kPalHeader.data_id;
}

void write_pal_header(ByteBuffer& out) {
  put_bytes(out, encode_pal_header(kPalHeader));
}

void write_pal_entries(ByteBuffer& out, const TexPalette& palette) {
  for (const TexPaletteEntry& entry : palette) {
    for (const std::size_t b : kEntryOrder)
      out.push_back(entry[b]);
  }
}

void write_pal_terminator(ByteBuffer& out) {
  constexpr std::array<unsigned char, 4> kTerminator{};
  put_bytes(out, kTerminator);
}

bool read_pal_header(std::FILE* stream, PalHeader& header) {
  PalBytes bytes{};
  if (!read_record(stream, bytes)) return false;
  header = decode_pal_header(bytes);
  return true;
}

ReadResult read_pal_entries(std::FILE* stream, TexPalette& palette) {
  for (TexPaletteEntry& entry : palette) {
    for (const std::size_t b : kEntryOrder) {
      const ReadResult result = read_byte(stream, entry[b]);
      if (result != ReadResult::ok) return result;
    }
  }
  return ReadResult::ok;
}
