#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/bytes.h"
#include "formats/colour.h"
#include "formats/tex.h"

// What skinprep remembers of the set it wrote, kept with the set as
// NAME/NAME_source.png: the colour every pixel asked for (alpha as the
// rules for added alpha read it), as a PNG image (a palette image where
// 256 entries hold them), and in its text chunk "skinprep", before the
// pixels, what it read and wrote, by checksum:
//   skinprep memory 2
//   options choose               (the palette option: choose, keep or remake)
//   palette-file 1a2b3c4d        (tga/NAME.pal as seen, or "none")
//   image 0e1f2a3b               (the image file read)
//   picture 4c5d6e7f             (its picture as read, see picture_checksum)
//   texture-read 2b3c4d5e        (the TEX file read, or "none")
//   texture-welded 3c4d5e6f      (the TEX file skinweld welds from the set)
//   palette 5e6f7a8b
//   high ...  medium ...  low ...   (one a line)
//   texture 9c0d1e2f             (the palette and levels as skinweld welds them)
//   page 6f7a8b9c                (the preview page)
//   warning TEXT                 (each warning the set still gives, escaped)
//   texture-warning TEXT         (each that holds while the TEX file is the one read)
//   rest 7a8b9c0d                (the bytes after the text chunk: the pixels)
// The last line lets a reader trust the whole file from one checksum,
// without decoding the pixels. Version 1 kept the picture as the image
// showed it, alpha only where the image had its own: it is told apart and
// not used.

struct PrepMemory {
  std::size_t width = 0;
  std::size_t height = 0;
  std::span<const Rgba> colours;  ///< what each pixel asked for, in the TEX file's pixel order
  std::string options;            ///< the palette option, one word
  /// tga/NAME.pal's checksum as skinprep saw it; empty when there was none.
  std::optional<std::uint32_t> palette_file;
  std::uint32_t image = 0;                             ///< the image file read
  std::uint32_t picture = 0;                           ///< its picture as read
  std::optional<std::uint32_t> texture_read;           ///< the TEX file read, when there was one
  std::uint32_t texture_welded = 0;                    ///< the TEX file skinweld welds from the set
  std::uint32_t palette = 0;                           ///< NAME.pal as written
  std::array<std::uint32_t, kTexLevelCount> levels{};  ///< NAME_h, _m, _l.tga as written
  std::uint32_t texture = 0;                  ///< the palette and levels as skinweld welds them
  std::uint32_t page = 0;                     ///< NAME_preview.html as written
  std::vector<std::string> warnings;          ///< whole lines, as printed
  std::vector<std::string> texture_warnings;  ///< while the TEX file is the one read
};

/// What reading a memory found.
enum class MemoryRead { ok, earlier_version, not_memory };

/// The largest memory file read: what skinprep writes for a 512 × 512
/// picture of true colours, with room to spare. A larger file is none of its.
constexpr std::size_t kMemoryFileLimit = 2U << 20U;

/// How much of a memory's file a reading of its record trusts.
enum class MemoryTrust {
  whole,       ///< the bytes are the whole file, its pixels checked by their checksum
  record_only  ///< the bytes may be its first ones only: the record, by its chunk's CRC
};

/// Reads what a memory's file says, without decoding its pixels; with
/// MemoryTrust::whole, checks that they are the ones written with it.
MemoryRead read_prep_memory_record(std::span<const unsigned char> file, PrepMemory& memory,
                                   MemoryTrust trust = MemoryTrust::whole);

/// Reads a memory from stream: its record, then its picture into pixels
/// (four bytes a pixel of a 512 × 512 picture).
MemoryRead read_prep_memory(std::FILE* stream, std::span<unsigned char> pixels, PrepMemory& memory);

/// The memory as a PNG file's bytes, at the end of out; false when libpng fails.
bool write_prep_memory(ByteBuffer& out, const PrepMemory& memory);
