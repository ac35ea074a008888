#include "files/stream_buffer.h"

#include <array>

namespace {

std::array<char, std::size_t{64} * 1024> input_buffer;
bool input_buffer_lent = false;

}  // namespace

bool borrow_input_buffer(std::FILE* stream) {
  // The tools read one file at a time; a second one open at once keeps its own buffer.
  if (input_buffer_lent ||
      std::setvbuf(stream, input_buffer.data(), _IOFBF, input_buffer.size()) != 0)
    return false;
  input_buffer_lent = true;
  return true;
}

void return_input_buffer() {
  input_buffer_lent = false;
}
