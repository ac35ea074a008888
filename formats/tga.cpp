#include "formats/tga.h"

#include <algorithm>

namespace {

using TgaBytes = std::array<unsigned char, kTgaHeaderSize>;

// The two headers the splitter starts from; size and depth are filled in.
constexpr TgaBytes kColourMappedTemplate = {
    0x00,                    // ID length: no image ID
    0x01,                    // colour map type: present
    0x01,                    // image type: uncompressed, colour-mapped
    0x00, 0x00,              // first colour map entry
    0x00, 0x00,              // colour map length (set per file)
    0x18,                    // colour map entry size: 24 bits, blue green red
    0x00, 0x00, 0x00, 0x00,  // X and Y origin
    0x00, 0x00, 0x00, 0x00,  // width and height (set per file)
    0x08,                    // pixel depth: one index byte
    0x00};                   // descriptor: first row at the bottom, no alpha bits
constexpr TgaBytes kTrueColourTemplate = {0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0,
                                          0,    0,    0,    0, 0, 0, 0, 0, 0};

TgaBytes encode_tga_header(const TgaHeader& h) {
  TgaBytes b{};
  b[0] = h.id_length;
  b[1] = h.colour_map_type;
  b[2] = h.image_type;
  put_u16le(&b[3], h.colour_map_first_entry);
  put_u16le(&b[5], h.colour_map_length);
  b[7] = h.colour_map_entry_size;
  put_u16le(&b[8], h.x_origin);
  put_u16le(&b[10], h.y_origin);
  put_u16le(&b[12], h.width);
  put_u16le(&b[14], h.height);
  b[16] = h.pixel_depth;
  b[17] = h.image_descriptor;
  return b;
}

TgaHeader decode_tga_header(const TgaBytes& b) {
  TgaHeader h;
  h.id_length = b[0];
  h.colour_map_type = b[1];
  h.image_type = b[2];
  h.colour_map_first_entry = get_u16le(&b[3]);
  h.colour_map_length = get_u16le(&b[5]);
  h.colour_map_entry_size = b[7];
  h.x_origin = get_u16le(&b[8]);
  h.y_origin = get_u16le(&b[10]);
  h.width = get_u16le(&b[12]);
  h.height = get_u16le(&b[14]);
  h.pixel_depth = b[16];
  h.image_descriptor = b[17];
  return h;
}

/// Reads the run-length packets of one row's worth of pixels (or any other
/// count) into out; a packet may run on into the next call, as packets may
/// cross the end of a row.
class RunLengthDecoder {
 public:
  explicit RunLengthDecoder(std::FILE* stream) : stream_(stream) {}

  ReadResult read(unsigned char* out, std::size_t count) {
    while (count > 0) {
      if (left_in_packet_ == 0) {
        unsigned char packet = 0;
        ReadResult result = read_byte(stream_, packet);
        if (result != ReadResult::ok) return result;
        // The low seven bits hold the pixel count less one; the top bit marks a run.
        left_in_packet_ = (packet & 0x7FU) + 1;
        is_run_ = (packet & 0x80U) != 0;
        if (is_run_) {
          result = read_byte(stream_, run_value_);
          if (result != ReadResult::ok) return result;
        }
      }
      const std::size_t take = std::min<std::size_t>(count, left_in_packet_);
      if (is_run_) {
        std::fill(out, out + take, run_value_);
      } else {
        const ReadResult result = read_bytes(stream_, std::span(out, take));
        if (result != ReadResult::ok) return result;
      }
      out += take;
      count -= take;
      left_in_packet_ -= static_cast<unsigned>(take);
    }
    return ReadResult::ok;
  }

 private:
  std::FILE* stream_;
  unsigned left_in_packet_ = 0;
  bool is_run_ = false;
  unsigned char run_value_ = 0;
};

}  // namespace

TgaHeader tga_header_for_subtype(TexSubtype subtype, std::uint16_t x, std::uint16_t y) {
  TgaHeader header;
  if (subtype == TexSubtype::indexed) {
    header = decode_tga_header(kColourMappedTemplate);
    header.colour_map_length = 256;
  } else {
    header = decode_tga_header(kTrueColourTemplate);
    header.pixel_depth = subtype == TexSubtype::truecolour24 ? 24 : 32;
  }
  header.width = x;
  header.height = y;
  return header;
}

bool write_tga_header(std::FILE* stream, const TgaHeader& header) {
  return write_record(stream, encode_tga_header(header));
}

bool write_tga_colour_map(std::FILE* stream, const TexPalette& palette) {
  for (const TexPaletteEntry& entry : palette) {
    // The colour map keeps the palette's own blue, green, red order; alpha has no place in it.
    if (!write_bytes(stream, std::span(entry).first(3))) return false;
  }
  return true;
}

bool write_tga_pixels(std::FILE* stream, TexSubtype subtype, std::span<const unsigned char> stored,
                      const TexPalette& palette) {
  // One loop per sub-type, so that nothing is decided again for each pixel.
  switch (subtype) {
    case TexSubtype::indexed:
      return write_bytes(stream, stored);
    case TexSubtype::indexed_expanded:
      for (const unsigned char index : stored) {
        // Bytes 0 and 2 change places, as for the stored true-colour pixels.
        const TexPaletteEntry& e = palette[index];
        if (!write_byte(stream, e[2]) || !write_byte(stream, e[1]) || !write_byte(stream, e[0]) ||
            !write_byte(stream, e[3]))
          return false;
      }
      return true;
    case TexSubtype::truecolour24:
      for (std::size_t at = 0; at + 3 <= stored.size(); at += 3) {
        const unsigned char* s = &stored[at];
        if (!write_byte(stream, s[2]) || !write_byte(stream, s[1]) || !write_byte(stream, s[0]))
          return false;
      }
      return true;
    case TexSubtype::truecolour32:
      for (std::size_t at = 0; at + 4 <= stored.size(); at += 4) {
        const unsigned char* s = &stored[at];
        if (!write_byte(stream, s[2]) || !write_byte(stream, s[1]) || !write_byte(stream, s[0]) ||
            !write_byte(stream, s[3]))
          return false;
      }
      return true;
  }
  return true;
}

bool read_tga_header(std::FILE* stream, TgaHeader& header) {
  TgaBytes bytes{};
  if (!read_record(stream, bytes)) return false;
  header = decode_tga_header(bytes);
  return true;
}

namespace {

/// Reads the colours of the map entries that pixel indices can reach (indices
/// 0 to 255) and seeks over the rest. A map cut short keeps what it holds; the
/// pixel read that follows then meets the end of the file.
bool keep_colour_map(std::FILE* stream, const TgaHeader& header, long entry_bytes,
                     TgaColourMap& keep) {
  keep = {};
  const long first = header.colour_map_first_entry;
  const long reachable = std::max(0L, std::min<long>(header.colour_map_length, 256 - first));
  std::array<unsigned char, 4> entry{};
  for (long e = 0; e < reachable; ++e) {
    if (read_bytes(stream, std::span(entry).first(static_cast<std::size_t>(entry_bytes))) !=
        ReadResult::ok)
      return true;
    const auto index = static_cast<std::size_t>(first + e);
    keep.colour[index] = {entry[0], entry[1], entry[2]};
    keep.present[index] = true;
  }
  return std::fseek(stream, (header.colour_map_length - reachable) * entry_bytes, SEEK_CUR) == 0;
}

}  // namespace

bool skip_tga_colour_map(std::FILE* stream, const TgaHeader& header, TgaColourMap* keep) {
  // Entries of 15 bits take two bytes each, so round the entry size up to whole bytes.
  const long entry_bytes = (header.colour_map_entry_size + 7) / 8;
  const bool comparable = header.colour_map_length > 0 && (header.colour_map_entry_size == 24 ||
                                                           header.colour_map_entry_size == 32);
  if (keep == nullptr || !comparable) {
    if (keep != nullptr) *keep = {};
    const long skip = header.id_length + header.colour_map_length * entry_bytes;
    return std::fseek(stream, skip, SEEK_CUR) == 0;
  }
  return std::fseek(stream, header.id_length, SEEK_CUR) == 0 &&
         keep_colour_map(stream, header, entry_bytes, *keep);
}

bool tga_colours_differ(const TgaColourMap& map, std::span<const unsigned char> indices,
                        const TexPalette& palette) {
  std::array<bool, 256> used{};
  for (const unsigned char index : indices)
    used[index] = true;
  for (std::size_t index = 0; index < 256; ++index) {
    if (!used[index] || !map.present[index]) continue;
    const TexPaletteEntry& entry = palette[index];
    if (map.colour[index] != std::array<unsigned char, 3>{entry[0], entry[1], entry[2]})
      return true;
  }
  return false;
}

ReadResult read_tga_indices(std::FILE* stream, const TgaHeader& header,
                            std::span<unsigned char> level) {
  const std::size_t width = header.width;
  const std::size_t height = header.height;
  const bool run_length =
      header.image_type == kTgaColourMappedRle || header.image_type == kTgaGreyRle;
  const bool top_first = (header.image_descriptor & kTgaTopToBottom) != 0;
  const bool right_first = (header.image_descriptor & kTgaRightToLeft) != 0;
  if (!run_length && !top_first && !right_first)
    return read_bytes(stream, level.first(width * height));  // the splitter's own layout

  // Row by row into the row's place counted from the bottom, turned round
  // afterwards if it was stored right to left.
  RunLengthDecoder decoder(stream);
  for (std::size_t row = 0; row < height; ++row) {
    const std::span<unsigned char> out =
        level.subspan((top_first ? height - 1 - row : row) * width, width);
    const ReadResult result =
        run_length ? decoder.read(out.data(), width) : read_bytes(stream, out);
    if (result != ReadResult::ok) return result;
    if (right_first) std::reverse(out.begin(), out.end());
  }
  return ReadResult::ok;
}
