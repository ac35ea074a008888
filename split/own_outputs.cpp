#include "split/own_outputs.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "files/file_system.h"
#include "files/input_file.h"

namespace {

constexpr std::string_view kFirstLine = "skinsplit sums 1\n";

/// Reads "NAME HEX" or "NAME none"; false when the line is not that.
bool read_sum(const char*& at, const char* name, std::optional<std::uint32_t>& sum) {
  std::array<char, 16> word{};
  std::array<char, 16> value{};
  int length = 0;
  if (std::sscanf(at, "%15s %15s%n", word.data(), value.data(), &length) != 2 ||
      std::string_view(word.data()) != name)
    return false;
  at += length;
  if (std::string_view(value.data()) == "none") {
    sum.reset();
    return true;
  }
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(value.data(), &end, 16);
  if (end == value.data() || *end != '\0' || std::string_view(value.data()).size() > 8)
    return false;
  sum = static_cast<std::uint32_t>(parsed);
  return true;
}

}  // namespace

OwnOutputs read_own_outputs(const std::string& name) {
  OwnOutputs sums;
  if (!is_own_regular_file(name)) return sums;
  const InputFile file = open_regular_input(name.c_str());
  std::vector<unsigned char> bytes;
  if (!file || !read_rest(file.get(), bytes)) return sums;
  const std::string text(bytes.begin(), bytes.end());
  if (text.rfind(kFirstLine, 0) != 0) return sums;
  const char* at = text.c_str() + kFirstLine.size();
  OwnOutputs read;
  if (!read_sum(at, "palette", read.palette) || !read_sum(at, "image", read.image) ||
      !read_sum(at, "png", read.png))
    return sums;
  return read;
}

void write_own_outputs(ByteBuffer& out, const OwnOutputs& sums) {
  const std::string text = std::string(kFirstLine) + "palette " + checksum_text(sums.palette) +
                           "\nimage " + checksum_text(sums.image) + "\npng " +
                           checksum_text(sums.png) + "\n";
  out.insert(out.end(), text.begin(), text.end());
}
