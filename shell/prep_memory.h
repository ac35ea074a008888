#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "formats/colour.h"
#include "formats/prep_memory.h"
#include "formats/tex.h"
#include "shell/edited_image.h"

// What skinprep's memory (see formats/prep_memory.h) is to the tools that
// read it: skinprep, to tell what changed since; skinweld, to tell whether
// the texture it welds holds the last edit.

/// Reads the memory in the file name, without a word; not_memory also when
/// it is not there.
MemoryRead read_prep_memory_file(const std::string& name, std::span<unsigned char> pixels,
                                 PrepMemory& memory);

/// Reads only what the memory in the file name says, without decoding its
/// pixels (memory.colours stays empty): with MemoryTrust::whole the whole
/// file, its pixels checked by their checksum; with record_only no more of
/// it than the record.
MemoryRead read_prep_memory_record_file(const std::string& name, PrepMemory& memory,
                                        MemoryTrust trust = MemoryTrust::whole);

/// Whether two pixels show the same: the same colour and alpha, or both
/// see-through (paint programs store see-through pixels as black or white).
inline bool shows_the_same(const Rgba& a, const Rgba& b) {
  return a == b || (a[3] == 0 && b[3] == 0);
}

/// The checksum of a picture as read: its size, whether it has alpha of its
/// own, and every pixel's colour (alpha as 255 without it). Two files of one
/// picture, a re-save in another format say, have the same.
std::uint32_t picture_checksum(const EditedImage& picture);

/// The checksum of a texture's palette and three levels, as skinweld welds
/// them: what the memory keeps to tell a texture welded from its set.
std::uint32_t texture_checksum(const TexPalette& palette, const TexLevels& levels, unsigned x,
                               unsigned y);

/// Whether pixel k asks for what it asked for in the memory (see shows_the_same).
inline bool same_as_remembered(const PrepMemory& memory, const Rgba& wanted, std::size_t k) {
  return shows_the_same(memory.colours[k], wanted);
}

/// The checksum of a file's bytes; empty when it cannot be read.
std::optional<std::uint32_t> file_checksum(const std::string& name);
