#include "formats/bytes.h"

#include <array>
#include <cinttypes>

ReadResult read_bytes(std::FILE* stream, std::span<unsigned char> bytes) {
  for (unsigned char& byte : bytes) {
    const ReadResult result = read_byte(stream, byte);
    if (result != ReadResult::ok) return result;
  }
  return ReadResult::ok;
}

bool read_record(std::FILE* stream, std::span<unsigned char> record) {
  return std::fread(record.data(), record.size(), 1, stream) == 1;
}

bool read_rest_up_to(std::FILE* stream, ByteBuffer& bytes, std::size_t limit) {
  constexpr std::size_t kBlock = std::size_t{64} * 1024;
  const std::size_t start = bytes.size();
  for (;;) {
    const std::size_t at = bytes.size();
    bytes.resize(at + kBlock);
    const std::size_t got = std::fread(&bytes[at], 1, kBlock, stream);
    bytes.resize(at + got);
    if (std::ferror(stream) != 0 || bytes.size() - start > limit) return false;
    if (got < kBlock) return true;
  }
}

std::string checksum_text(const std::optional<std::uint32_t>& checksum) {
  if (!checksum) return "none";
  std::array<char, 9> text{};
  std::snprintf(text.data(), text.size(), "%08" PRIx32, *checksum);
  return text.data();
}
