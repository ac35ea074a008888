#include "shell/prep_memory.h"

#include <cstdio>

#include "files/errno_guard.h"
#include "files/input_file.h"
#include "formats/png.h"

MemoryRead read_prep_memory_file(const std::string& name, std::span<unsigned char> pixels,
                                 PrepMemory& memory) {
  const ErrnoGuard keep_errno;
  const InputFile file = open_regular_input(name.c_str());
  return file ? read_prep_memory(file.get(), pixels, memory) : MemoryRead::not_memory;
}

MemoryRead read_prep_memory_record_file(const std::string& name, PrepMemory& memory,
                                        MemoryTrust trust) {
  const ErrnoGuard keep_errno;
  const InputFile file = open_regular_input(name.c_str());
  if (!file) return MemoryRead::not_memory;
  ByteBuffer bytes;
  if (trust == MemoryTrust::record_only) {
    // The record stands before the pixels, in the first few KiB but where
    // its warnings are many.
    constexpr std::size_t kHead = std::size_t{8} * 1024;
    bytes.resize(kHead);
    bytes.resize(std::fread(bytes.data(), 1, kHead, file.get()));
    const MemoryRead head = read_prep_memory_record(bytes, memory, trust);
    if (head != MemoryRead::not_memory || bytes.size() < kHead) return head;
  }
  if (!read_rest_up_to(file.get(), bytes, kMemoryFileLimit)) return MemoryRead::not_memory;
  return read_prep_memory_record(bytes, memory, trust);
}

std::uint32_t picture_checksum(const EditedImage& picture) {
  ByteBuffer bytes;
  std::array<unsigned char, 9> size{};
  put_u32le(size.data(), static_cast<std::uint32_t>(picture.width));
  put_u32le(&size[4], static_cast<std::uint32_t>(picture.height));
  size[8] = picture.has_alpha ? 1 : 0;
  put_bytes(bytes, size);
  bytes.reserve(size.size() + 4 * picture.colours.size());
  for (Rgba c : picture.colours) {
    if (!picture.has_alpha) c[3] = 255;
    put_bytes(bytes, c);
  }
  return crc32_of(bytes);
}

std::uint32_t texture_checksum(const TexPalette& palette, const TexLevels& levels, unsigned x,
                               unsigned y) {
  ByteBuffer bytes;
  write_tex_palette(bytes, palette);
  for (std::size_t n = 0; n < kTexLevelCount; ++n)
    write_tex_level(bytes, tex_level(levels, n, x, y));
  return crc32_of(bytes);
}

std::optional<std::uint32_t> file_checksum(const std::string& name) {
  const ErrnoGuard keep_errno;
  const InputFile file = open_regular_input(name.c_str());
  if (!file) return std::nullopt;
  // Read a block at a time into one buffer: the check of a set that did not
  // change is most of what such a run costs.
  static std::array<unsigned char, std::size_t{64} * 1024> block;
  std::uint32_t crc = crc32_of({});
  for (;;) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), file.get());
    if (std::ferror(file.get()) != 0) return std::nullopt;
    crc = crc32_continued(crc, std::span(block).first(got));
    if (got < block.size()) return crc;
  }
}
