#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "formats/tex.h"
#include "formats/tga.h"

// Generated textures, images and palettes with asymmetric contents: every
// palette entry has distinct blue, green, red and alpha, and no picture is
// symmetric, so swapped bytes and flipped rows show.

using Bytes = std::vector<unsigned char>;

/// Palette entry n: blue n, green 255 - n, red 3n + 7, alpha 5n + 1 (mod 256).
TexPalette sample_palette();

/// The index of the pixel at (column, row) of the high level's test pattern.
unsigned char sample_index(unsigned column, unsigned row);

/// A width × height level sampled from the high pattern at every step-th
/// column and row (step 1 is the high level itself), in file order.
Bytes sample_level(unsigned width, unsigned height, unsigned step);

/// A complete TEX file of the sub-type: header, palette (sub-types 1 and 14),
/// three levels of 1, 3 or 4 bytes per pixel, padded to the minimum length the
/// splitter asks for.
Bytes make_tex(TexSubtype subtype, unsigned x, unsigned y);

struct TgaOptions {
  std::uint8_t image_type = 1;
  std::uint8_t descriptor = 0;
  std::string image_id;
  bool footer = false;  ///< a TGA 2.0 footer after the pixels
};

/// An 8-bit colour-mapped image (24-bit colour map of 256 entries) whose
/// pixels, given bottom row first, are stored as the options ask: run-length
/// encoded for type 9 or 11, top row first or right to left by the descriptor.
Bytes make_tga8(unsigned width, unsigned height, const Bytes& bottom_up_pixels,
                const TexPalette& palette, const TgaOptions& options = {});

/// A true-colour image of 15, 16, 24 or 32 bits (image type 2, or 10 for
/// run-length encoding) or an 8-bit grey one (type 3 or 11, the red channel
/// taken as grey), from colours given bottom row first; the options as for
/// make_tga8. No colour map.
Bytes make_tga_colours(unsigned width, unsigned height, const std::vector<Rgba>& bottom_up,
                       unsigned depth, const TgaOptions& options);

/// An 8-bit RGBA PNG image of the colours, given bottom row first (a PNG
/// stores the top row first), written by libpng.
Bytes make_png(unsigned width, unsigned height, const std::vector<Rgba>& bottom_up);

/// The picture of a preview page's panel (its <img data-panel="name">),
/// decoded from its data URL: RGBA, bottom row first as the TEX file keeps
/// them (the PNG holds the top row first). Empty without one.
/// A PNG image's colours, bottom row first (see read_png); for a palette
/// image also its indices and colour map where asked for.
std::vector<Rgba> png_colours(const Bytes& png, unsigned& width, unsigned& height,
                              std::vector<unsigned char>* indices = nullptr,
                              ColourMap* map = nullptr);

std::vector<Rgba> preview_panel(const std::string& html, const std::string& name, unsigned& width,
                                unsigned& height);

/// The colour of palette entry n of a TEX file as its split image shows it.
Rgba tex_shown_colour(const Bytes& tex, std::size_t n);

/// The colours of level n of a paletted TEX file, bottom row first, as the
/// file stores them.
std::vector<Rgba> tex_level_colours(const Bytes& tex, std::size_t n);

/// The colours (red, green, blue, alpha) of sample palette indices, as a
/// sub-type 1 texture shows them.
std::vector<Rgba> colours_of_level(const Bytes& indices);

/// A repaint as soft brushes leave it, bottom row first: a smooth gradient of
/// a different colour at every pixel across the whole picture, opaque but for
/// a translucent rectangle (alpha 96) in the middle half.
std::vector<Rgba> repaint_colours(unsigned width, unsigned height);

/// Whether (x, y), counted from the bottom left, lies in the translucent
/// rectangle of repaint_colours.
bool in_translucent_part(unsigned x, unsigned y, unsigned width, unsigned height);

/// A 1052-byte palette file as the splitter writes it.
Bytes make_pal(const TexPalette& palette);

/// An 8-bit image sampled down by divisor (nearest pixel), colour map kept:
/// the medium or low level a user makes from the high image.
Bytes shrink_tga8(const Bytes& image, unsigned divisor);

/// Several files in one fuzz input: a little-endian length per part (0xffff
/// for a file that is absent), then the parts' bytes one after the other.
Bytes frame_parts(const std::vector<std::optional<Bytes>>& parts);

/// The parts of a framed input; lengths beyond the data are cut short, and
/// parts whose length the data does not hold are absent.
std::vector<std::optional<Bytes>> unframe_parts(const Bytes& data, std::size_t count);

/// Writes the seed inputs of each fuzz target into dir/<target>/.
void write_fuzz_seeds(const std::filesystem::path& dir);

Bytes read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const Bytes& bytes);
