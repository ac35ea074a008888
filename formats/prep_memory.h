#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include "formats/bytes.h"
#include "formats/colour.h"
#include "formats/tex.h"

// What skinprep remembers of the set it wrote, kept with the set as
// NAME/NAME_source.png: the picture it prepared, as the image showed it,
// as an RGB or RGBA PNG image, and in its text chunk "skinprep" the palette
// file it saw and a checksum of each file it wrote:
//   skinprep memory 1
//   palette-file 1a2b3c4d        (or "none")
//   palette 5e6f7a8b
//   high ...  medium ...  low ...   (one a line)
//   texture 9c0d1e2f             (the palette and levels as skinweld welds them)
// skinprep reads it to tell what changed since; skinweld only to tell
// whether the texture it welds holds the last edit.

struct PrepMemory {
  std::size_t width = 0;
  std::size_t height = 0;
  bool alpha = false;  ///< the picture had alpha of its own; else red, green and blue count
  std::span<const Rgba> colours;  ///< the picture, in the TEX file's pixel order
  /// tga/NAME.pal's checksum as skinprep saw it; empty when there was none.
  std::optional<std::uint32_t> palette_file;
  std::uint32_t palette = 0;                           ///< NAME.pal as written
  std::array<std::uint32_t, kTexLevelCount> levels{};  ///< NAME_h, _m, _l.tga as written
  std::uint32_t texture = 0;  ///< the palette and levels as skinweld welds them
};

/// Reads a memory from stream into memory, its picture into pixels (four
/// bytes a pixel of a 512 × 512 picture). False when it does not hold one.
bool read_prep_memory(std::FILE* stream, std::span<unsigned char> pixels, PrepMemory& memory);

/// The memory as a PNG file's bytes, at the end of out; false when libpng fails.
bool write_prep_memory(ByteBuffer& out, const PrepMemory& memory);
