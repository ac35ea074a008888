#pragma once

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/temp_dir.h"

inline const std::string kSkinsplit = SKINSPLIT_EXE;
inline const std::string kSkinweld = SKINWELD_EXE;
inline const std::string kSkinprep = SKINPREP_EXE;
inline const std::string kPrompt = "\n**** Press ENTER to continue ****\n";

/// Whether an exhaustive loop over 0..last tries n. Every n is tried unless
/// SKIN_TEST_STRIDE asks for every stride-th (the sanitizer build does, where
/// a run costs ten times as much); the first and last few and the named
/// boundaries are always tried.
inline bool tried(std::size_t n, std::size_t last,
                  std::initializer_list<std::size_t> boundaries = {}) {
  static const std::size_t stride = [] {
    const char* text = std::getenv("SKIN_TEST_STRIDE");
    return text != nullptr && std::atoi(text) > 1 ? static_cast<std::size_t>(std::atoi(text)) : 1;
  }();
  return n % stride == 0 || n < 20 || n + 20 > last ||
         std::any_of(boundaries.begin(), boundaries.end(),
                     [n](std::size_t b) { return n + 1 >= b && n <= b + 1; });
}
