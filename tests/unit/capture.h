#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/streams.h"

/// Sends this process's standard output and error to temporary files, and its
/// standard input to an empty file, until finish() puts them back.
class CapturedConsole {
 public:
  CapturedConsole() {
    std::fflush(stdout);
    std::fflush(stderr);
    saved_[0] = dup(0);
    saved_[1] = dup(1);
    saved_[2] = dup(2);
    dup2(fileno(in_), 0);
    dup2(fileno(out_), 1);
    dup2(fileno(err_), 2);
    std::clearerr(stdin);
  }
  ~CapturedConsole() { finish(); }

  void finish() {
    if (done_) return;
    done_ = true;
    std::fflush(stdout);
    std::fflush(stderr);
    for (int fd = 0; fd < 3; ++fd) {
      dup2(saved_[fd], fd);
      close(saved_[fd]);
    }
    std::clearerr(stdin);
    const Bytes out = contents_of(out_);
    const Bytes err = contents_of(err_);
    out_text.assign(out.begin(), out.end());
    err_text.assign(err.begin(), err.end());
    std::fclose(in_);
    std::fclose(out_);
    std::fclose(err_);
  }

  std::string out_text;
  std::string err_text;

 private:
  std::FILE* in_ = std::tmpfile();
  std::FILE* out_ = std::tmpfile();
  std::FILE* err_ = std::tmpfile();
  int saved_[3] = {-1, -1, -1};
  bool done_ = false;
};
