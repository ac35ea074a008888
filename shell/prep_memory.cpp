#include "shell/prep_memory.h"

#include "files/errno_guard.h"
#include "files/input_file.h"
#include "formats/png.h"

bool read_prep_memory_file(const std::string& name, std::span<unsigned char> pixels,
                           PrepMemory& memory) {
  const ErrnoGuard keep_errno;
  const InputFile file = open_regular_input(name.c_str());
  return file && read_prep_memory(file.get(), pixels, memory);
}

std::uint32_t texture_checksum(const TexPalette& palette, const TexLevels& levels, unsigned x,
                               unsigned y) {
  ByteBuffer bytes;
  write_tex_palette(bytes, palette);
  for (std::size_t n = 0; n < kTexLevelCount; ++n)
    write_tex_level(bytes, tex_level(levels, n, x, y));
  return crc32_of(bytes);
}

bool same_as_remembered(const PrepMemory& memory, const Rgba& colour, bool alpha, std::size_t k) {
  const Rgba& was = memory.colours[k];
  return was[0] == colour[0] && was[1] == colour[1] && was[2] == colour[2] &&
         (!alpha || !memory.alpha || was[3] == colour[3]);
}

std::optional<std::uint32_t> file_checksum(const std::string& name) {
  const ErrnoGuard keep_errno;
  const InputFile file = open_regular_input(name.c_str());
  if (!file) return std::nullopt;
  ByteBuffer bytes;
  if (!read_rest(file.get(), bytes)) return std::nullopt;
  return crc32_of(bytes);
}
