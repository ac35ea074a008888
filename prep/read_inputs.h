#pragma once

#include <array>
#include <string>

#include "formats/tex.h"
#include "prep/prep_work.h"
#include "shell/texture_path.h"

// What skinprep reads beside the edited image: the texture it replaces (if
// one can serve), the palette file beside the image and the memory of the
// last prepare.

/// The fixed storage the inputs are read into, sized for a 512 × 512 image:
/// the edited image, the texture's palette and levels, and the picture the
/// last prepare remembers.
struct InputArea {
  ImageArea image;
  TexPalette texture_palette;
  TexLevels texture_levels;
  std::array<unsigned char, kTexMaxPixels * 4> memory_pixels;
};

/// Reads the texture, when there is one of the image's size that can serve,
/// into area. False only for a refusal; a texture that cannot serve is left
/// aside with its reason.
bool read_old_texture(const std::string& name, const EditedImage& edited, InputArea& area,
                      OldTexture& old);

/// Reads the palette file beside the image, when there is one. A texture of
/// sub-type 14, which skinsplit gives none, has none to miss: then nothing
/// is said of it.
bool read_palette_input(const TextureFiles& files, const OldTexture& old, PaletteFile& file);

/// Reads the memory of the last prepare, without a word, and decides whether
/// it serves: it must describe a picture of the image's size and the set the
/// texture was welded from.
void read_memory(const TextureFiles& files, InputArea& area, Match& m);
