#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>

#include "formats/colour.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "shell/texture_path.h"

// The edited image, as skinprep reads it and as skinweld looks at it to
// tell whether the texture it welds holds the last edit.

/// Why the other of tga/NAME.tga and tga/NAME.png was left aside.
enum class LeftAside { none, older, as_old, named };

/// The edited image as read from its file: a TGA or a PNG image.
struct ImageFile {
  std::string name;                 ///< the file read
  std::string left_aside;           ///< the other of tga/NAME.tga and tga/NAME.png, if there
  LeftAside why = LeftAside::none;  ///< and why it was not read
  bool png = false;
  TgaHeader header;            ///< a TGA image's
  ColourMap map;               ///< the colour map of a TGA image, the palette of a PNG image
  bool indexed = false;        ///< its pixels are indices into map, which may be taken as they are
  bool alpha_channel = false;  ///< its pixels or map can carry alpha
  unsigned pixel_bytes = 0;
  std::size_t width = 0;
  std::size_t height = 0;
};

/// The edited image, in the TEX file's pixel order.
struct EditedImage {
  std::size_t width = 0;
  std::size_t height = 0;
  std::span<const Rgba> colours;
  std::span<const unsigned char> indices;  ///< an 8-bit colour-mapped image's; else empty
  const ColourMap* map = nullptr;          ///< its colour map; else null
  bool has_alpha = false;                  ///< some pixel brings an alpha of its own
};

/// The fixed storage an image is read into, sized for 512 × 512: its stored
/// pixel bytes and every pixel's colour, in the TEX file's pixel order.
struct ImageArea {
  std::array<unsigned char, kTexMaxPixels * 4> stored;
  std::array<Rgba, kTexMaxPixels> colours;
};

/// Which image to read: the one the argument named (dropped, if not
/// empty), else the one of tga/NAME.tga and tga/NAME.png there is, or of
/// both the one modified last (a PNG saved beside the split TGA is the edit).
void choose_image_file(const TextureFiles& files, const std::string& dropped, ImageFile& image);

/// Reads the image chosen, from "Opening NAME..." to "done!", into area (the
/// pixels) and image (header and map); edited then shows its colours.
bool read_edited_image(ImageArea& area, ImageFile& image, EditedImage& edited);
