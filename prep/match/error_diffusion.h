#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "formats/colour.h"

/// Floyd and Steinberg's error diffusion along the rows of a picture: the
/// error carried to each pixel of this row and the next, one place on
/// either side to spare.
class ErrorDiffusion {
 public:
  explicit ErrorDiffusion(std::size_t width) : row_(width + 2), next_row_(width + 2) {}

  /// Moves on to the next row.
  void next_row() {
    row_.swap(next_row_);
    std::fill(next_row_.begin(), next_row_.end(), std::array<float, 4>{});
  }

  /// The colour wanted at column x with the error carried to it.
  [[nodiscard]] Rgba with_error(const Rgba& wanted, std::size_t x) const {
    Rgba want{};
    for (std::size_t ch = 0; ch < 4; ++ch)
      want[ch] = static_cast<unsigned char>(
          std::clamp(static_cast<float>(wanted[ch]) + row_[x + 1][ch] + 0.5F, 0.0F, 255.0F));
    return want;
  }

  /// Spreads what is left of want at column x, shown as got, to the pixels
  /// right and below.
  void spread(const Rgba& want, const Rgba& got, std::size_t x) {
    for (std::size_t ch = 0; ch < 4; ++ch) {
      const float left = static_cast<float>(want[ch]) - static_cast<float>(got[ch]);
      row_[x + 2][ch] += left * 7 / 16;
      next_row_[x][ch] += left * 3 / 16;
      next_row_[x + 1][ch] += left * 5 / 16;
      next_row_[x + 2][ch] += left * 1 / 16;
    }
  }

 private:
  std::vector<std::array<float, 4>> row_;
  std::vector<std::array<float, 4>> next_row_;
};
