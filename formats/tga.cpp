#include "formats/tga.h"

#include <algorithm>

namespace {

using TgaBytes = std::array<unsigned char, kTgaHeaderSize>;

constexpr TgaBytes kTgaColourMappedTemplate = {
    0x00,                    // ID length: no image ID
    0x01,                    // colour map type: present
    0x01,                    // image type: uncompressed, colour-mapped
    0x00, 0x00,              // first colour map entry
    0x00, 0x01,              // colour map length: 256 entries
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
/// cross the end of a row. Pixels are pixel_bytes bytes each.
class RunLengthDecoder {
 public:
  RunLengthDecoder(std::FILE* stream, unsigned pixel_bytes)
      : stream_(stream), pixel_bytes_(pixel_bytes) {}

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
          result = read_bytes(stream_, std::span(run_value_).first(pixel_bytes_));
          if (result != ReadResult::ok) return result;
        }
      }
      const std::size_t take = std::min<std::size_t>(count, left_in_packet_);
      if (is_run_ && pixel_bytes_ == 1) {
        std::fill(out, out + take, run_value_[0]);
      } else if (is_run_) {
        for (std::size_t n = 0; n < take; ++n)
          std::copy_n(run_value_.begin(), pixel_bytes_, out + n * pixel_bytes_);
      } else {
        const ReadResult result = read_bytes(stream_, std::span(out, take * pixel_bytes_));
        if (result != ReadResult::ok) return result;
      }
      out += take * pixel_bytes_;
      count -= take;
      left_in_packet_ -= static_cast<unsigned>(take);
    }
    return ReadResult::ok;
  }

 private:
  std::FILE* stream_;
  unsigned pixel_bytes_;
  unsigned left_in_packet_ = 0;
  bool is_run_ = false;
  std::array<unsigned char, 4> run_value_{};
};

/// Turns a row stored right to left round, pixel by pixel.
void reverse_row(std::span<unsigned char> row, unsigned pixel_bytes) {
  std::reverse(row.begin(), row.end());
  if (pixel_bytes == 1) return;
  for (std::size_t at = 0; at + pixel_bytes <= row.size(); at += pixel_bytes)
    std::reverse(row.begin() + static_cast<long>(at),
                 row.begin() + static_cast<long>(at + pixel_bytes));
}

/// Widens a five-bit channel to eight bits, so that 31 becomes 255.
unsigned char widen_5_bits(unsigned value) {
  return static_cast<unsigned char>((value << 3) | (value >> 2));
}

/// The colour of one stored pixel or colour map entry of the given depth.
Rgba decode_colour(const unsigned char* bytes, unsigned depth) {
  switch (depth) {
    case 8:
      return {bytes[0], bytes[0], bytes[0], 255};
    case 15:
    case 16: {
      // Five bits each of red, green and blue; the top bit is seldom a real
      // alpha, so these images count as opaque.
      const unsigned value = get_u16le(bytes);
      return {widen_5_bits((value >> 10) & 31), widen_5_bits((value >> 5) & 31),
              widen_5_bits(value & 31), 255};
    }
    case 24:
      return {bytes[2], bytes[1], bytes[0], 255};
    default:
      return {bytes[2], bytes[1], bytes[0], bytes[3]};
  }
}

}  // namespace

TgaHeader tga_colour_mapped_header() {
  return decode_tga_header(kTgaColourMappedTemplate);
}

TgaHeader tga_true_colour_header() {
  return decode_tga_header(kTrueColourTemplate);
}

void write_tga_header(ByteBuffer& out, const TgaHeader& header) {
  put_bytes(out, encode_tga_header(header));
}

bool tga_head_is_valid(std::span<const unsigned char> head) {
  if (head.size() < kTgaHeaderSize) return false;
  TgaBytes bytes{};
  std::copy_n(head.begin(), kTgaHeaderSize, bytes.begin());
  const TgaHeader h = decode_tga_header(bytes);
  const bool known_type = tga_is_colour_mapped(h.image_type) || tga_is_grey(h.image_type) ||
                          h.image_type == kTgaTrueColour || h.image_type == kTgaTrueColourRle;
  const bool known_depth = h.pixel_depth == 8 || h.pixel_depth == 15 || h.pixel_depth == 16 ||
                           h.pixel_depth == 24 || h.pixel_depth == 32;
  return known_type && known_depth && h.colour_map_type <= 1;
}

bool read_tga_header(std::FILE* stream, TgaHeader& header) {
  TgaBytes bytes{};
  if (!read_record(stream, bytes)) return false;
  header = decode_tga_header(bytes);
  return true;
}

ReadResult read_tga_pixel_bytes(std::FILE* stream, const TgaHeader& header,
                                std::span<unsigned char> pixels, unsigned pixel_bytes) {
  const std::size_t width = header.width;
  const std::size_t height = header.height;
  const std::size_t row_bytes = width * pixel_bytes;
  const bool run_length = tga_is_run_length(header.image_type);
  const bool top_first = (header.image_descriptor & kTgaTopToBottom) != 0;
  const bool right_first = (header.image_descriptor & kTgaRightToLeft) != 0;
  if (!run_length && !top_first && !right_first)
    return read_bytes(stream, pixels.first(row_bytes * height));  // the splitter's own layout

  // Row by row into the row's place counted from the bottom, turned round
  // afterwards if it was stored right to left.
  RunLengthDecoder decoder(stream, pixel_bytes);
  for (std::size_t row = 0; row < height; ++row) {
    const std::span<unsigned char> out =
        pixels.subspan((top_first ? height - 1 - row : row) * row_bytes, row_bytes);
    const ReadResult result =
        run_length ? decoder.read(out.data(), width) : read_bytes(stream, out);
    if (result != ReadResult::ok) return result;
    if (right_first) reverse_row(out, pixel_bytes);
  }
  return ReadResult::ok;
}

ReadResult read_tga_indices(std::FILE* stream, const TgaHeader& header,
                            std::span<unsigned char> level) {
  return read_tga_pixel_bytes(stream, header, level, 1);
}

unsigned tga_colour_pixel_bytes(const TgaHeader& header) {
  const unsigned depth = header.pixel_depth;
  switch (header.image_type) {
    case kTgaColourMapped:
    case kTgaColourMappedRle: {
      const unsigned entry = header.colour_map_entry_size;
      const bool map_taken = header.colour_map_length > 0 &&
                             (entry == 15 || entry == 16 || entry == 24 || entry == 32);
      return depth == 8 && map_taken ? 1 : 0;
    }
    case kTgaGrey:
    case kTgaGreyRle:
      return depth == 8 ? 1 : 0;
    case kTgaTrueColour:
    case kTgaTrueColourRle:
      return depth == 15 || depth == 16 ? 2 : depth == 24 || depth == 32 ? depth / 8 : 0;
    default:
      return 0;
  }
}

ReadResult read_tga_colour_map(std::FILE* stream, const TgaHeader& header, ColourMap& map) {
  map = {};
  if (std::fseek(stream, header.id_length, SEEK_CUR) != 0) return ReadResult::read_error;
  const unsigned entry_bytes = (header.colour_map_entry_size + 7U) / 8U;
  std::array<unsigned char, 4> entry{};
  for (unsigned n = 0; n < header.colour_map_length; ++n) {
    const ReadResult result = read_bytes(stream, std::span(entry).first(std::min(entry_bytes, 4U)));
    if (result != ReadResult::ok) return result;
    // Entries past four bytes, or past what an 8-bit pixel can reach, take no place.
    for (unsigned extra = 4; extra < entry_bytes; ++extra) {
      const ReadResult skipped = read_byte(stream, entry[0]);
      if (skipped != ReadResult::ok) return skipped;
    }
    const unsigned index = header.colour_map_first_entry + n;
    if (index > 255) continue;
    map.colour[index] = decode_colour(entry.data(), header.colour_map_entry_size);
    map.present[index] = true;
  }
  return ReadResult::ok;
}

Rgba tga_pixel_colour(const unsigned char* pixel, const TgaHeader& header, const ColourMap& map) {
  if (tga_is_colour_mapped(header.image_type)) return map.colour[pixel[0]];
  return decode_colour(pixel, header.pixel_depth);
}
