#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "formats/colour.h"
#include "formats/prep_memory.h"
#include "formats/tex.h"

// What skinprep's memory (see formats/prep_memory.h) is to the tools that
// read it: skinprep, to tell what changed since; skinweld, to tell whether
// the texture it welds holds the last edit.

/// Reads the memory in the file name, without a word. False when it is not
/// there or does not hold a memory.
bool read_prep_memory_file(const std::string& name, std::span<unsigned char> pixels,
                           PrepMemory& memory);

/// The checksum of a texture's palette and three levels, as skinweld welds
/// them: what the memory keeps to tell a texture welded from its set.
std::uint32_t texture_checksum(const TexPalette& palette, const TexLevels& levels, unsigned x,
                               unsigned y);

/// Whether a picture's pixel k has the colour the memory's had: red, green
/// and blue, and alpha where both have alpha of their own.
bool same_as_remembered(const PrepMemory& memory, const Rgba& colour, bool alpha, std::size_t k);

/// The checksum of a file's bytes; empty when it cannot be read.
std::optional<std::uint32_t> file_checksum(const std::string& name);
