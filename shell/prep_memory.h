#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "formats/bytes.h"
#include "formats/colour.h"
#include "formats/tex.h"

// What skinprep remembers of the set it wrote, kept with the set as
// NAME/NAME_source.png: the picture it prepared, as the image showed it,
// and in a text chunk the palette file it saw and a checksum of each file it
// wrote. skinprep reads it to tell what changed since; skinweld only to
// tell whether the texture it welds holds the last edit.

/// The files of a set, in the order the memory lists their checksums.
enum class SetFile : std::size_t { palette, high, medium, low };
inline constexpr std::size_t kSetFiles = 4;

struct PrepMemory {
  std::size_t width = 0;
  std::size_t height = 0;
  bool alpha = false;  ///< the picture had alpha of its own; else red, green and blue count
  std::span<const Rgba> colours;  ///< the picture, in the TEX file's pixel order
  /// tga/NAME.pal's checksum as skinprep saw it; empty when there was none.
  std::optional<std::uint32_t> palette_file;
  std::array<std::uint32_t, kSetFiles> set{};  ///< the files as written
  std::uint32_t texture = 0;                   ///< the palette and levels as skinweld welds them
};

/// Reads a memory into memory, its picture into pixels (four bytes a pixel
/// of a 512 × 512 picture), without a word. False when it is not there or
/// does not hold a memory.
bool read_prep_memory(const std::string& name, std::span<unsigned char> pixels, PrepMemory& memory);

/// The memory as a PNG file's bytes, at the end of out; false when libpng fails.
bool write_prep_memory(ByteBuffer& out, const PrepMemory& memory);

/// The checksum of a texture's palette and three levels, as skinweld welds
/// them: what the memory keeps to tell a texture welded from its set.
std::uint32_t texture_checksum(const TexPalette& palette, const TexLevels& levels, unsigned x,
                               unsigned y);

/// Whether a picture's pixel k has the colour the memory's had: red, green
/// and blue, and alpha where both have alpha of their own.
bool same_as_remembered(const PrepMemory& memory, const Rgba& colour, bool alpha, std::size_t k);

/// The checksum of a file's bytes; empty when it cannot be read.
std::optional<std::uint32_t> file_checksum(const std::string& name);
