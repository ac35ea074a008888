#include "formats/bytes.h"

ReadResult read_bytes(std::FILE* stream, std::span<unsigned char> bytes) {
  for (unsigned char& byte : bytes) {
    const ReadResult result = read_byte(stream, byte);
    if (result != ReadResult::ok) return result;
  }
  return ReadResult::ok;
}

bool write_bytes(std::FILE* stream, std::span<const unsigned char> bytes) {
  for (const unsigned char byte : bytes) {
    if (!write_byte(stream, byte)) return false;
  }
  return true;
}

bool write_record(std::FILE* stream, std::span<const unsigned char> record) {
  return std::fwrite(record.data(), record.size(), 1, stream) == 1;
}

bool read_record(std::FILE* stream, std::span<unsigned char> record) {
  return std::fread(record.data(), record.size(), 1, stream) == 1;
}
