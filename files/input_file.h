#pragma once

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "files/errno_guard.h"
#include "files/stream_buffer.h"

/// Closes an input file and gives back the read buffer it borrowed, if any.
class InputFileCloser {
 public:
  InputFileCloser() = default;
  explicit InputFileCloser(bool owns_buffer) : owns_buffer_(owns_buffer) {}
  void operator()(std::FILE* stream) const {
    std::fclose(stream);
    if (owns_buffer_) return_input_buffer();
  }

 private:
  bool owns_buffer_ = false;
};

/// A file opened for reading, closed when it goes out of scope.
using InputFile = std::unique_ptr<std::FILE, InputFileCloser>;

/// Opens path for binary reading; empty when it cannot be opened.
inline InputFile open_input(const char* path) {
  std::FILE* stream = std::fopen(path, "rb");
  if (stream == nullptr) return {};
  return {stream, InputFileCloser(borrow_input_buffer(stream))};
}

/// Opens path for binary reading when it is a regular file (through links):
/// a FIFO, device or socket, which reading could wait on for ever, and a
/// directory are refused without being opened (ENOTSUP, EISDIR). For files
/// a tool reads only to compare with or to replace; what the user names as
/// input may be anything that reads.
inline InputFile open_regular_input(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0) return {};
  if (!S_ISREG(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : ENOTSUP;
    return {};
  }
  return open_input(path);
}

/// Reads the rest of an open file into bytes (after what they hold). False
/// on a read error.
inline bool read_rest(std::FILE* stream, std::vector<unsigned char>& bytes) {
  std::array<unsigned char, 4096> block{};
  for (;;) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), stream);
    if (std::ferror(stream) != 0) return false;
    bytes.insert(bytes.end(), block.begin(), block.begin() + static_cast<long>(got));
    if (got < block.size()) return true;
  }
}

/// Which step of measuring a file failed, as the splitter reports each.
enum class LengthResult { ok, end_not_found, length_unknown, start_not_found };

/// The length of an open file: the position after seeking to its end. The
/// stream is put back at the start.
inline LengthResult measure_file_length(std::FILE* stream, long& length) {
  if (std::fseek(stream, 0, SEEK_END) != 0) return LengthResult::end_not_found;
  length = std::ftell(stream);
  if (length < 0) return LengthResult::length_unknown;
  if (std::fseek(stream, 0, SEEK_SET) != 0) return LengthResult::start_not_found;
  return LengthResult::ok;
}

/// 1 when the file first was modified after the file second, -1 when
/// before, 0 when at the same time or when either cannot be looked at.
inline int compare_modification_times(const std::string& first, const std::string& second) {
  ErrnoGuard keep_errno;
  struct stat a {};
  struct stat b {};
  if (stat(first.c_str(), &a) != 0 || stat(second.c_str(), &b) != 0) return 0;
#ifdef _WIN32
  return a.st_mtime == b.st_mtime ? 0 : a.st_mtime > b.st_mtime ? 1 : -1;
#else
  if (a.st_mtim.tv_sec != b.st_mtim.tv_sec) return a.st_mtim.tv_sec > b.st_mtim.tv_sec ? 1 : -1;
  return a.st_mtim.tv_nsec == b.st_mtim.tv_nsec  ? 0
         : a.st_mtim.tv_nsec > b.st_mtim.tv_nsec ? 1
                                                 : -1;
#endif
}

/// Whether a file (or anything else) of that name is there.
inline bool file_exists(const std::string& name) {
  ErrnoGuard keep_errno;
  struct stat status {};
  return stat(name.c_str(), &status) == 0;
}
