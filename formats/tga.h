#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "formats/bytes.h"
#include "formats/colour.h"

// The TGA image file, in the published format's terms. The splitter writes
// uncompressed images without image ID or footer; skinweld reads 8-bit images
// and skinprep images of every colour mode, as paint programs save them
// (plain or run-length encoded, any origin, with or without image ID).

inline constexpr std::size_t kTgaHeaderSize = 18;

/// Image types of the published format.
inline constexpr std::uint8_t kTgaColourMapped = 1;
inline constexpr std::uint8_t kTgaTrueColour = 2;
inline constexpr std::uint8_t kTgaGrey = 3;
inline constexpr std::uint8_t kTgaColourMappedRle = 9;
inline constexpr std::uint8_t kTgaTrueColourRle = 10;
inline constexpr std::uint8_t kTgaGreyRle = 11;

/// Whether an image keeps an index a pixel into its colour map (types 1, 9).
constexpr bool tga_is_colour_mapped(std::uint8_t image_type) {
  return image_type == kTgaColourMapped || image_type == kTgaColourMappedRle;
}

/// Whether an image keeps a grey value a pixel (types 3, 11).
constexpr bool tga_is_grey(std::uint8_t image_type) {
  return image_type == kTgaGrey || image_type == kTgaGreyRle;
}

/// Whether an image's pixels are run-length encoded (types 9, 10, 11).
constexpr bool tga_is_run_length(std::uint8_t image_type) {
  return image_type == kTgaColourMappedRle || image_type == kTgaTrueColourRle ||
         image_type == kTgaGreyRle;
}

/// Image descriptor bits that say where the first stored pixel stands.
inline constexpr std::uint8_t kTgaRightToLeft = 0x10;
inline constexpr std::uint8_t kTgaTopToBottom = 0x20;

struct TgaHeader {
  std::uint8_t id_length = 0;
  std::uint8_t colour_map_type = 0;
  std::uint8_t image_type = 0;
  std::uint16_t colour_map_first_entry = 0;
  std::uint16_t colour_map_length = 0;     ///< in entries
  std::uint8_t colour_map_entry_size = 0;  ///< in bits
  std::uint16_t x_origin = 0;
  std::uint16_t y_origin = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint8_t pixel_depth = 0;  ///< in bits
  std::uint8_t image_descriptor = 0;
};

/// The two headers skinsplit starts from: an 8-bit image with a 256-entry
/// colour map of 24 bits, and a true-colour image; size and depth are filled in.
TgaHeader tga_colour_mapped_header();
TgaHeader tga_true_colour_header();

/// Writes the 18 header bytes.
void write_tga_header(ByteBuffer& out, const TgaHeader& header);

/// Reads the 18 header bytes in one read; false if fewer arrive.
bool read_tga_header(std::FILE* stream, TgaHeader& header);

/// Whether the first bytes of a file read as a TGA header: an image type of
/// the published format, a colour map type of 0 or 1, a depth one of them has.
bool tga_head_is_valid(std::span<const unsigned char> head);

/// Reads the image ID and the colour map after the header, keeping the colours
/// of the map entries that pixel values 0 to 255 reach. A map cut short ends
/// with end of file.
ReadResult read_tga_colour_map(std::FILE* stream, const TgaHeader& header, ColourMap& map);

/// Reads width × height pixel bytes into level, decoding run-length packets
/// (image types 9 and 11), and delivers them bottom row first, each row left to
/// right, whatever origin the descriptor names. Images of other types give
/// their first width × height data bytes. level must hold width × height bytes.
ReadResult read_tga_indices(std::FILE* stream, const TgaHeader& header,
                            std::span<unsigned char> level);

/// Like read_tga_indices for pixels of pixel_bytes bytes each (1 to 4), as
/// they are stored.
ReadResult read_tga_pixel_bytes(std::FILE* stream, const TgaHeader& header,
                                std::span<unsigned char> pixels, unsigned pixel_bytes);

/// Bytes per stored pixel of an image that tga_pixel_colour can read: 8-bit
/// colour-mapped (map entries of 15, 16, 24 or 32 bits) or grey, true colour
/// of 15, 16, 24 or 32 bits, plain or run-length encoded. 0 for any other.
unsigned tga_colour_pixel_bytes(const TgaHeader& header);

/// The colour of one stored pixel: looked up in the colour map for a
/// colour-mapped image, decoded from its bytes for the others. Images of 15
/// or 16 bits count as opaque.
Rgba tga_pixel_colour(const unsigned char* pixel, const TgaHeader& header, const ColourMap& map);
