#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "formats/tex.h"
#include "shell/texture_path.h"

// What skinweld tells the user about the texture it wrote that the user may
// not expect. None of it ever sends the user to a step that loses work.

/// What the TEX file being replaced was, beyond its tail.
struct OldTexFile {
  bool found = false;
  bool has_size = false;
  bool whole = false;  ///< it holds all its levels
  std::uint16_t x = 0;
  std::uint16_t y = 0;
};

/// The texture as welded: its header, palette and high level, and the
/// checksum of the whole file.
struct WeldedTexture {
  const TexHeader& header;
  const TexPalette& palette;
  std::span<const unsigned char> high;
  std::uint32_t checksum = 0;
};

/// Warns of another size than the texture replaced (and of one larger than
/// skinsplit reads), of a header of a sub-type the tools do not know carried
/// over, of a level that is not the one skinprep wrote, and of an edit to
/// the picture or the palette file that is not in the texture (the files
/// in tga/ found among split_names, in any case).
void warn_of_surprises(const TextureName& name, const WeldedTexture& texture, const OldTexFile& old,
                       const std::vector<std::string>& split_names);
