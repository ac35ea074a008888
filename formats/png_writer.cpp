#include "formats/png.h"

#include <libdeflate.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "formats/tex.h"

// The PNG writer: the chunks written here, the pixels deflated by
// libdeflate (libpng's writer is bound to zlib, about half as fast).

namespace {

/// The placeholder of the last line of a text that checks the rest.
constexpr std::string_view kRestLine = "rest 00000000\n";

/// The bytes of the picture as they go into the rows, unfiltered.
std::span<const unsigned char> pixel_bytes(const PngPicture& picture) {
  if (!picture.palette.empty()) return picture.indices_bottom_up;
  if (picture.bottom_up.empty()) return {};
  return {picture.bottom_up.front().data(), picture.bottom_up.size() * sizeof(Rgba)};
}

/// libdeflate's compressor of each level, made when first needed and kept
/// for the run (empty when it could not be made).
libdeflate_compressor* compressor_of(int level) {
  struct Free {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
  };
  static std::array<std::unique_ptr<libdeflate_compressor, Free>, 13> compressors;
  auto& compressor = compressors.at(static_cast<std::size_t>(level));
  if (!compressor) compressor.reset(libdeflate_alloc_compressor(level));
  return compressor.get();
}

/// The deflate level for the picture: the one asked for, or 0 (stored) when
/// a sample from its middle does not shrink. Deflating 64 KiB of random
/// entries gains nothing.
int level_for(const PngPicture& picture) {
  constexpr std::size_t kSample = 2048;
  const std::span<const unsigned char> bytes = pixel_bytes(picture);
  if (picture.compression == 0 || bytes.size() < kSample) return picture.compression;
  libdeflate_compressor* fastest = compressor_of(1);
  std::array<unsigned char, kSample> packed{};
  const std::span<const unsigned char> sample =
      bytes.subspan((bytes.size() - kSample) / 2, kSample);
  const std::size_t length = fastest == nullptr
                                 ? 0
                                 : libdeflate_deflate_compress(fastest, sample.data(), kSample,
                                                               packed.data(), kSample * 31 / 32);
  return length == 0 ? 0 : picture.compression;  // 0: it did not fit in 31/32
}

/// Adds a chunk of that type and data, with its length and CRC.
void put_chunk(ByteBuffer& out, std::string_view type, std::span<const unsigned char> data) {
  std::array<unsigned char, 8> head{};
  put_u32be(head.data(), static_cast<std::uint32_t>(data.size()));
  std::copy_n(type.begin(), 4, &head[4]);
  put_bytes(out, head);
  put_bytes(out, data);
  std::array<unsigned char, 4> crc{};
  put_u32be(crc.data(), crc32_continued(crc32_of(std::span(head).subspan(4)), data));
  put_bytes(out, crc);
}

/// The header chunk: 8 bits a sample, palette, RGBA or RGB, not interlaced.
void put_header(ByteBuffer& out, const PngPicture& picture) {
  std::array<unsigned char, 13> header{};
  put_u32be(header.data(), picture.width);
  put_u32be(&header[4], picture.height);
  header[8] = 8;
  header[9] = !picture.palette.empty() ? 3 : picture.alpha ? 6 : 2;
  put_chunk(out, "IHDR", header);
}

/// The palette's colours, and its alphas up to the last that is not 255.
void put_palette(ByteBuffer& out, const PngPicture& picture) {
  ByteBuffer colours;
  ByteBuffer alphas;
  std::size_t see_through = 0;  // how many alphas the tRNS chunk holds
  for (std::size_t n = 0; n < picture.palette.size(); ++n) {
    const Rgba& c = picture.palette[n];
    colours.insert(colours.end(), c.begin(), c.begin() + 3);
    alphas.push_back(picture.alpha ? c[3] : 255);
    if (alphas.back() != 255) see_through = n + 1;
  }
  put_chunk(out, "PLTE", colours);
  if (see_through > 0) put_chunk(out, "tRNS", std::span(alphas).first(see_through));
}

/// The rows, top first as a PNG keeps them, each after its filter byte:
/// none for entries, whose neighbours' differences mean nothing, else the
/// difference from the pixel to the left (one cheap filter for all rows).
void filter_rows(const PngPicture& picture, ByteBuffer& rows) {
  const bool indexed = !picture.palette.empty();
  const std::size_t channels = indexed ? 1 : picture.alpha ? 4 : 3;
  const std::size_t row_bytes = std::size_t{picture.width} * channels;
  rows.resize((1 + row_bytes) * picture.height);
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    unsigned char* row = &rows[y * (1 + row_bytes)];
    const std::size_t first = std::size_t{picture.height - 1 - y} * picture.width;
    row[0] = indexed ? 0 : 1;
    if (indexed) {
      std::copy_n(&picture.indices_bottom_up[first], picture.width, row + 1);
      continue;
    }
    for (std::size_t x = 0; x < picture.width; ++x) {
      for (std::size_t c = 0; c < channels; ++c) {
        const unsigned char left = x == 0 ? 0 : picture.bottom_up[first + x - 1][c];
        row[1 + x * channels + c] =
            static_cast<unsigned char>(picture.bottom_up[first + x][c] - left);
      }
    }
  }
}

/// The pixels' chunk: the filtered rows as a zlib stream.
bool put_pixels(ByteBuffer& out, const PngPicture& picture) {
  static ByteBuffer rows;
  static ByteBuffer packed;
  filter_rows(picture, rows);
  libdeflate_compressor* compressor = compressor_of(level_for(picture));
  if (compressor == nullptr) return false;
  packed.resize(libdeflate_zlib_compress_bound(compressor, rows.size()));
  const std::size_t length =
      libdeflate_zlib_compress(compressor, rows.data(), rows.size(), packed.data(), packed.size());
  if (length == 0) return false;
  put_chunk(out, "IDAT", std::span(packed).first(length));
  return true;
}

/// Writes the checksum of the bytes after the text chunk that ends at end
/// into the text's last line, and the chunk's own CRC anew.
void check_rest_in_text(ByteBuffer& out, std::size_t text_start, std::size_t end) {
  std::array<char, 9> hex{};
  std::snprintf(hex.data(), hex.size(), "%08x",
                static_cast<unsigned>(crc32_of(std::span(out).subspan(end))));
  std::copy_n(hex.data(), 8, &out[end - 4 - kRestLine.size() + 5]);
  put_u32be(&out[end - 4],
            crc32_of(std::span(out).subspan(text_start + 4, end - 4 - text_start - 4)));
}

/// The whole file, after what out holds.
bool write_file(ByteBuffer& out, const PngPicture& picture) {
  static constexpr std::array<unsigned char, 8> kSignature = {0x89, 'P',  'N',  'G',
                                                              '\r', '\n', 0x1a, '\n'};
  put_bytes(out, kSignature);
  put_header(out, picture);
  if (!picture.palette.empty()) put_palette(out, picture);
  const std::size_t text_start = out.size();
  if (picture.text_keyword != nullptr) {
    std::string text = picture.text_keyword;
    text += '\0';  // between the keyword and the text
    text += picture.text;
    put_chunk(out, "tEXt",
              {reinterpret_cast<const unsigned char*>(text.data()),
               text.size()});  // NOLINT: text as bytes
  }
  const std::size_t text_end = out.size();
  if (!put_pixels(out, picture)) return false;
  put_chunk(out, "IEND", {});
  if (picture.text_checks_rest) check_rest_in_text(out, text_start, text_end);
  return true;
}

}  // namespace

bool write_png(ByteBuffer& out, const PngPicture& picture) {
  PngPicture written = picture;
  if (written.text_checks_rest) {
    if (written.text_keyword == nullptr) return false;
    written.text += kRestLine;
  }
  const std::size_t pixels = std::size_t{written.width} * written.height;
  if (written.width > kTexMaxDimension || written.palette.size() > 256 ||
      (written.palette.empty() ? written.bottom_up.size() : written.indices_bottom_up.size()) <
          pixels)
    return false;
  for (std::size_t k = 0; k < pixels && !written.palette.empty(); ++k) {
    if (written.indices_bottom_up[k] >= written.palette.size()) return false;
  }
  return write_file(out, written);
}

bool as_palette_picture(std::span<const Rgba> colours, std::vector<unsigned char>& indices,
                        std::vector<Rgba>& entries) {
  constexpr std::size_t kSlots = 1024;
  std::array<std::uint32_t, kSlots> keys{};
  std::array<int, kSlots> slots{};
  slots.fill(-1);
  indices.resize(colours.size());
  entries.clear();
  for (std::size_t k = 0; k < colours.size(); ++k) {
    const Rgba& c = colours[k];
    const std::uint32_t key = get_u32le(c.data());
    std::size_t slot = (key * 2654435761U) >> 22U;
    while (slots[slot] >= 0 && keys[slot] != key)
      slot = (slot + 1) % kSlots;
    if (slots[slot] < 0) {
      if (entries.size() == 256) return false;
      keys[slot] = key;
      slots[slot] = static_cast<int>(entries.size());
      entries.push_back(c);
    }
    indices[k] = static_cast<unsigned char>(slots[slot]);
  }
  return true;
}
