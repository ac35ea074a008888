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
// NAME/NAME_source.png: the colour every pixel asked for (alpha as the
// rules for added alpha read it), as an RGBA PNG image, and in its text
// chunk "skinprep" checksums of what it read and wrote:
//   skinprep memory 2
//   palette-file 1a2b3c4d        (tga/NAME.pal as seen, or "none")
//   image 0e1f2a3b               (the image file read)
//   picture 4c5d6e7f             (its picture as read, see picture_checksum)
//   palette 5e6f7a8b
//   high ...  medium ...  low ...   (one a line)
//   texture 9c0d1e2f             (the palette and levels as skinweld welds them)
// Version 1 kept the picture as the image showed it, alpha only where the
// image had its own: it is told apart and not used.
// skinprep reads it to tell what changed since; skinweld only to tell
// whether the texture it welds holds the last edit.

struct PrepMemory {
  std::size_t width = 0;
  std::size_t height = 0;
  std::span<const Rgba> colours;  ///< what each pixel asked for, in the TEX file's pixel order
  /// tga/NAME.pal's checksum as skinprep saw it; empty when there was none.
  std::optional<std::uint32_t> palette_file;
  std::uint32_t image = 0;                             ///< the image file read
  std::uint32_t picture = 0;                           ///< its picture as read
  std::uint32_t palette = 0;                           ///< NAME.pal as written
  std::array<std::uint32_t, kTexLevelCount> levels{};  ///< NAME_h, _m, _l.tga as written
  std::uint32_t texture = 0;  ///< the palette and levels as skinweld welds them
};

/// What reading a memory found.
enum class MemoryRead { ok, earlier_version, not_memory };

/// Reads a memory from stream into memory, its picture into pixels (four
/// bytes a pixel of a 512 × 512 picture).
MemoryRead read_prep_memory(std::FILE* stream, std::span<unsigned char> pixels, PrepMemory& memory);

/// The memory as a PNG file's bytes, at the end of out; false when libpng fails.
bool write_prep_memory(ByteBuffer& out, const PrepMemory& memory);
