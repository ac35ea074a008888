#include "formats/png.h"

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>
#include <optional>
#include <string_view>

#include "formats/tex.h"

namespace {

/// libpng reports an error by a jump back to where reading began; only plain
/// data lives between there and here, so no destructor is skipped.
[[noreturn]] void stop_on_error(png_structp png, png_const_charp message) {
  auto* image = static_cast<PngImage*>(png_get_error_ptr(png));
  std::snprintf(image->message, sizeof image->message, "%s", message);
  png_longjmp(png, 1);
}

/// Warnings (an unknown chunk, a profile it does not like) change nothing
/// read, but one says that the size is over the limit, before the header's
/// error that follows it.
void note_warning(png_structp png, png_const_charp message) {
  if (std::strstr(message, "exceeds user limit") != nullptr)
    static_cast<PngImage*>(png_get_error_ptr(png))->too_large = true;
}

/// Asks libpng for the pixels as this reader keeps them: indices one byte
/// each for a palette image, else eight-bit red, green, blue and alpha.
void choose_transforms(png_structp png, png_infop info, PngImage& image) {
  const int type = png_get_color_type(png, info);
  const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  image.indexed = type == PNG_COLOR_TYPE_PALETTE;
  image.alpha = transparency || (type & PNG_COLOR_MASK_ALPHA) != 0;
  if (image.indexed) {
    png_set_packing(png);  // 1, 2 or 4 bits an index become a byte
  } else {
    png_set_scale_16(png);
    png_set_expand_gray_1_2_4_to_8(png);
    if (transparency) png_set_tRNS_to_alpha(png);
    png_set_gray_to_rgb(png);
    if ((type & PNG_COLOR_MASK_ALPHA) == 0 && !transparency)
      png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
}

/// A palette image's PLTE, with the alpha of its tRNS, as a colour map.
void read_palette(png_structp png, png_infop info, PngImage& image) {
  png_colorp entries = nullptr;
  int count = 0;
  png_bytep alphas = nullptr;
  int alpha_count = 0;
  png_color_16p unused = nullptr;
  if (png_get_PLTE(png, info, &entries, &count) == 0) count = 0;
  if (png_get_tRNS(png, info, &alphas, &alpha_count, &unused) == 0) alpha_count = 0;
  for (int n = 0; n < std::min(count, 256); ++n) {
    const auto alpha = static_cast<unsigned char>(n < alpha_count ? alphas[n] : 255);
    image.map.colour[static_cast<std::size_t>(n)] = {entries[n].red, entries[n].green,
                                                     entries[n].blue, alpha};
    image.map.present[static_cast<std::size_t>(n)] = true;
  }
}

/// Keeps the text of the first text chunk of the keyword, if one came before
/// the pixels.
void read_text(png_structp png, png_infop info, const char* keyword, PngImage& image) {
  png_textp texts = nullptr;
  const int count = png_get_text(png, info, &texts, nullptr);
  for (int n = 0; n < count; ++n) {
    if (std::strcmp(texts[n].key, keyword) != 0) continue;
    image.text.assign(texts[n].text, texts[n].text_length);
    return;
  }
}

/// A read under way: libpng is handed the file's bytes a block at a time and
/// gives the rows back as it decodes them.
struct PushRead {
  PngImage* image = nullptr;
  std::span<unsigned char> pixels;
  const char* text_keyword = nullptr;
  std::array<png_bytep, kTexMaxDimension> rows{};
  int last_pass = 0;  ///< the pass the last row comes in: 6 for an interlaced image
  bool done = false;  ///< every row has come
};

/// The header and the chunks before the pixels have been read.
void take_info(png_structp png, png_infop info) {
  auto* read = static_cast<PushRead*>(png_get_progressive_ptr(png));
  PngImage& image = *read->image;
  image.width = png_get_image_width(png, info);
  image.height = png_get_image_height(png, info);
  if (read->text_keyword != nullptr) read_text(png, info, read->text_keyword, image);
  choose_transforms(png, info, image);
  if (image.indexed) read_palette(png, info, image);
  read->last_pass = png_get_interlace_type(png, info) == PNG_INTERLACE_NONE ? 0 : 6;
  const std::size_t row_bytes = png_get_rowbytes(png, info);
  for (std::uint32_t y = 0; y < image.height; ++y)
    read->rows[y] = read->pixels.data() + (image.height - 1 - y) * row_bytes;  // bottom row first
}

/// A row has been decoded (or, in an interlaced image's pass, none for this
/// place: row is null). Each pass counts every row of the image.
void take_row(png_structp png, png_bytep row, png_uint_32 number, int pass) {
  auto* read = static_cast<PushRead*>(png_get_progressive_ptr(png));
  if (number >= read->image->height) return;
  if (row != nullptr) png_progressive_combine_row(png, read->rows[number], row);
  if (pass == read->last_pass && number + 1 == read->image->height) read->done = true;
}

/// Feeds the file to libpng until the last row has come. What follows the
/// last row is not read: image data that goes on after it (a hostile file
/// can hide gigabytes of zeros there) would only cost time, and the chunks
/// after it hold nothing this reader keeps.
void push_until_done(png_structp png, png_infop info, std::FILE* stream, const PushRead& read) {
  std::array<unsigned char, 4096> block{};
  while (!read.done) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), stream);
    if (got == 0) png_error(png, "Read Error");
    png_process_data(png, info, block.data(), got);
  }
}

/// Has libpng pass over the chunks this reader takes nothing from, checking
/// their checksums but never inflating them: a profile or compressed text of
/// megabytes (a hostile file, or a planted memory) then costs no time. Only
/// the memory needs text, and its text is never compressed.
void skip_unneeded_chunks(png_structp png, bool with_text) {
  static constexpr png_byte kUnneeded[] = "iCCP\0zTXt\0iTXt\0sPLT\0eXIf\0tEXt";
  const int count = static_cast<int>(sizeof kUnneeded / 5) - (with_text ? 1 : 0);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kUnneeded, count);
}

/// The whole read, in one function so that libpng's jump lands here.
PngResult read_with_libpng(std::FILE* stream, PngImage& image, std::span<unsigned char> pixels,
                           const char* text_keyword) {
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &image, stop_on_error, note_warning);
  if (png == nullptr) {
    std::snprintf(image.message, sizeof image.message, "out of memory");
    return PngResult::damaged;
  }
  png_infop info = png_create_info_struct(png);
  static PushRead read;
  read = PushRead{&image, pixels, text_keyword};
  PngResult result = PngResult::damaged;
  // NOLINTNEXTLINE(cert-err52-cpp): libpng's own way; nothing here has a destructor
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
#ifdef SKIN_FUZZING
    // Mutated files then reach the decoder instead of stopping at a checksum.
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#endif
    // A larger image is refused from its header, before its pixels are read.
    png_set_user_limits(png, kTexMaxDimension, kTexMaxDimension);
    skip_unneeded_chunks(png, text_keyword != nullptr);
    png_set_progressive_read_fn(png, &read, take_info, take_row, nullptr);
    push_until_done(png, info, stream, read);
    result = PngResult::ok;
  } else if (image.too_large) {
    result = PngResult::too_large;
  }
  png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  return result;
}

}  // namespace

PngResult read_png(std::FILE* stream, PngImage& image, std::span<unsigned char> pixels,
                   const char* text_keyword) {
  image = PngImage{};
  return read_with_libpng(stream, image, pixels, text_keyword);
}

namespace {

/// One chunk of a PNG file: where its length, type, data and CRC stand.
struct Chunk {
  std::size_t start = 0;  ///< of its length field
  std::uint32_t length = 0;
  std::array<char, 4> type{};
  [[nodiscard]] std::size_t data() const { return start + 8; }
  [[nodiscard]] std::size_t end() const { return start + 12 + length; }
};

/// The chunk at start, when it lies wholly within the file.
std::optional<Chunk> chunk_at(std::span<const unsigned char> file, std::size_t start) {
  if (start + 12 > file.size()) return std::nullopt;
  Chunk chunk;
  chunk.start = start;
  chunk.length = get_u32be(&file[start]);
  std::copy_n(&file[start + 4], 4, chunk.type.begin());
  if (chunk.length > file.size() - start - 12) return std::nullopt;
  return chunk;
}

/// The first text chunk of keyword before the pixels.
std::optional<Chunk> find_text_chunk(std::span<const unsigned char> file, const char* keyword) {
  if (!png_head_is_valid(file)) return std::nullopt;
  const std::string_view wanted(keyword, std::strlen(keyword) + 1);  // with its NUL
  for (std::optional<Chunk> chunk = chunk_at(file, 8); chunk;
       chunk = chunk_at(file, chunk->end())) {
    const std::string_view type(chunk->type.data(), 4);
    if (type == "IDAT" || type == "IEND") break;
    const auto* data =
        reinterpret_cast<const char*>(&file[chunk->data()]);  // NOLINT: bytes as text
    if (type == "tEXt" && std::string_view(data, chunk->length).starts_with(wanted)) return chunk;
  }
  return std::nullopt;
}

/// The CRC-32 a chunk's type and data have.
std::uint32_t chunk_crc(std::span<const unsigned char> file, const Chunk& chunk) {
  return crc32_of(file.subspan(chunk.start + 4, chunk.length + 4));
}

}  // namespace

std::uint32_t crc32_of(std::span<const unsigned char> bytes) {
  return crc32_continued(static_cast<std::uint32_t>(crc32(0L, Z_NULL, 0)), bytes);
}

std::uint32_t crc32_continued(std::uint32_t crc, std::span<const unsigned char> bytes) {
  // libdeflate takes no bytes at a null pointer for a request of the initial value.
  if (bytes.empty()) return crc;
  return static_cast<std::uint32_t>(libdeflate_crc32(crc, bytes.data(), bytes.size()));
}

std::uint32_t crc32_joined(std::uint32_t first, std::uint32_t second, std::size_t second_length) {
  return static_cast<std::uint32_t>(
      crc32_combine(first, second, static_cast<z_off_t>(second_length)));
}

bool find_png_text(std::span<const unsigned char> file, const char* keyword, std::string& text,
                   std::span<const unsigned char>& rest) {
  const std::optional<Chunk> chunk = find_text_chunk(file, keyword);
  if (!chunk || chunk_crc(file, *chunk) != get_u32be(&file[chunk->end() - 4])) return false;
  const std::size_t skip = std::strlen(keyword) + 1;
  const auto* data = reinterpret_cast<const char*>(&file[chunk->data()]);  // NOLINT: bytes as text
  text.assign(data + skip, chunk->length - skip);
  rest = file.subspan(chunk->end());
  return true;
}

bool png_head_is_valid(std::span<const unsigned char> head) {
  return head.size() >= 8 && png_sig_cmp(head.data(), 0, 8) == 0;
}
