#include "formats/bytes.h"

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
