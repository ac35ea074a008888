#pragma once

#include <array>
#include <string>

#include "formats/tex.h"
#include "formats/tga.h"
#include "prep/colour_match.h"
#include "shell/texture_path.h"

// What skinprep reads: the edited image, the texture it replaces (if any can
// serve) and the palette file beside the image (if there is one).

/// The fixed storage the inputs are read into, sized for a 512 × 512 image:
/// its stored pixel bytes, every pixel's colour, and the texture's palette
/// and levels, each in the TEX file's pixel order.
struct InputArea {
  std::array<unsigned char, kTexMaxPixels * 4> stored;
  std::array<TgaColour, kTexMaxPixels> colours;
  TexPalette texture_palette;
  TexLevels texture_levels;
};

/// The edited image as read: a TGA or a PNG image.
struct ImageFile {
  std::string name;        ///< the file read
  std::string left_aside;  ///< the other of tga/NAME.tga and tga/NAME.png, older, if both are there
  bool png = false;
  TgaHeader header;            ///< a TGA image's
  TgaColourMap map;            ///< the colour map of a TGA image, the palette of a PNG image
  bool indexed = false;        ///< its pixels are indices into map, which may be taken as they are
  bool alpha_channel = false;  ///< its pixels or map can carry alpha
  unsigned pixel_bytes = 0;
  std::size_t width = 0;
  std::size_t height = 0;
};

/// What the texture being replaced can give, and if nothing, why.
struct Reference {
  bool found = false;  ///< there is a TEX file of that name
  bool usable = false;
  TexSubtype subtype = TexSubtype::indexed;
  std::string left_aside;   ///< why a texture that exists is not used
  bool other_size = false;  ///< it was left aside for a size other than the image's
  unsigned x = 0;           ///< its size, when other_size
  unsigned y = 0;
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
bool read_reference(const std::string& name, const EditedImage& edited, InputArea& area,
                    Reference& ref);

/// Reads the palette file beside the edited image, when there is one.
bool read_palette_file(const std::string& name, bool& found, TexPalette& palette);
