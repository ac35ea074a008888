#pragma once

#include <array>
#include <string>

#include "formats/tex.h"
#include "prep/prep_work.h"
#include "shell/texture_path.h"

// What skinprep reads: the edited image and the texture it replaces (if one
// can serve). The palette file beside the image is read by the step the
// tools share.

/// The fixed storage the inputs are read into, sized for a 512 × 512 image:
/// its stored pixel bytes, every pixel's colour, and the texture's palette
/// and levels, each in the TEX file's pixel order.
struct InputArea {
  std::array<unsigned char, kTexMaxPixels * 4> stored;
  std::array<Rgba, kTexMaxPixels> colours;
  TexPalette texture_palette;
  TexLevels texture_levels;
};

/// Reads the edited image into area (the pixels) and image (header and map);
/// edited then shows its colours in the TEX file's pixel order. The image is
/// tga/NAME.tga, or tga/NAME.png when there is no TGA, or of both the one
/// modified last.
bool read_edited_image(const TextureFiles& files, InputArea& area, ImageFile& image,
                       EditedImage& edited);

/// Reads the texture, when there is one of the image's size that can serve,
/// into area. False only for a refusal; a texture that cannot serve is left
/// aside with its reason.
bool read_old_texture(const std::string& name, const EditedImage& edited, InputArea& area,
                      OldTexture& old);
