#pragma once

// Failure texts that more than one step prints, each written once here. Most
// follow a progress text left without its line end, hence their leading
// "\n"; where that line has ended, on_own_line gives the text without it.

inline constexpr const char* kOpenPaletteFailed = "\nERROR! Could not open palette file! ";
inline constexpr const char* kOpenTexFailed = "\nERROR! Could not open TEX file! ";
inline constexpr const char* kEnterTextureDirectoryFailed =
    "ERROR! Could not change to texture directory! ";
inline constexpr const char* kImageTooLarge = "\nERROR! Image exceeds maximum size!\n";
inline constexpr const char* kReadImageDataFailed = "\nERROR! Could not read image data! ";
inline constexpr const char* kReadPastEnd = "\nERROR! Tried to read past end-of-file!\n";
inline constexpr const char* kWriteDataFailed = "\nERROR! Could not write data! ";

/// A message for a line of its own: without its leading "\n".
constexpr const char* on_own_line(const char* text) {
  return text[0] == '\n' ? text + 1 : text;
}
