#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "formats/tex.h"
#include "shell/driver.h"

/// skinsplit's option: split anew over an edit in progress (--force).
inline constexpr unsigned kForce = 1U << 0;

/// skinsplit's option: write the picture as tga/NAME.png (--png).
inline constexpr unsigned kPng = 1U << 1;

/// Converts one TEX texture into a TGA image, and for sub-type 1 also a RIFF
/// palette file, in the subdirectory "tga" beside it. The argument is the
/// texture's path. Returns whether both outputs were written.
bool split_texture(const char* argument, const ToolRun& run);

/// What reading and checking a TEX file learned about it.
struct TextureFacts {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  TexSubtype subtype = TexSubtype::indexed;
  std::span<const unsigned char> pixels;  ///< the high level, in file order
};

/// Measures, checks and reads an open TEX file as split_texture does, with
/// the same messages; the pixels land in the splitter's fixed work area.
bool read_texture_file(std::FILE* file, TextureFacts& facts);
