#include <gtest/gtest.h>

#include "formats/tex_tga.h"
#include "formats/tga.h"
#include "support/samples.h"
#include "support/streams.h"

namespace {

Bytes header_bytes(const TgaHeader& header) {
  ByteBuffer bytes;
  write_tga_header(bytes, header);
  return bytes;
}

Bytes pixel_bytes(TexSubtype subtype, const Bytes& stored, const TexPalette& palette) {
  ByteBuffer bytes;
  write_tga_pixels(bytes, subtype, stored, palette);
  return bytes;
}

struct Decoded {
  ReadResult result = ReadResult::read_error;
  TgaHeader header;
  Bytes pixels;
  long end_position = 0;
};

/// Reads a whole image the way skinweld does.
Decoded decode(const Bytes& file) {
  Decoded d;
  std::FILE* in = stream_with(file);
  ColourMap map;
  if (read_tga_header(in, d.header)) d.result = read_tga_colour_map(in, d.header, map);
  if (d.result == ReadResult::ok) {
    d.pixels.assign(std::size_t{d.header.width} * d.header.height, 0);
    d.result = read_tga_indices(in, d.header, d.pixels);
    d.end_position = std::ftell(in);
  }
  std::fclose(in);
  return d;
}

}  // namespace

TEST(Tga, HeadersForEachSubtypeMatchTheTemplates) {
  // 0x0102 wide, 0x0304 high: bytes that show a swap of width and height or of their halves.
  EXPECT_EQ(header_bytes(tga_header_for_subtype(TexSubtype::indexed, 0x0102, 0x0304)),
            (Bytes{0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x18, 0x00, 0x00, 0x00, 0x00, 0x02,
                   0x01, 0x04, 0x03, 0x08, 0x00}));
  const Bytes thirty_two = {0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x02, 0x01, 0x04, 0x03, 0x20, 0x00};
  EXPECT_EQ(header_bytes(tga_header_for_subtype(TexSubtype::indexed_expanded, 0x0102, 0x0304)),
            thirty_two);
  EXPECT_EQ(header_bytes(tga_header_for_subtype(TexSubtype::truecolour32, 0x0102, 0x0304)),
            thirty_two);
  Bytes twenty_four = thirty_two;
  twenty_four[16] = 0x18;
  EXPECT_EQ(header_bytes(tga_header_for_subtype(TexSubtype::truecolour24, 0x0102, 0x0304)),
            twenty_four);
}

TEST(Tga, ColourMapAndPixelsUseEachSubtypesByteOrder) {
  TexPalette palette = sample_palette();
  palette[7] = {0x11, 0x22, 0x33, 0x44};

  ByteBuffer map;
  write_tga_colour_map(map, palette);
  ASSERT_EQ(map.size(), 768u);
  EXPECT_EQ(Bytes(map.begin() + 21, map.begin() + 24), (Bytes{0x11, 0x22, 0x33}));

  EXPECT_EQ(pixel_bytes(TexSubtype::indexed, {7, 9}, palette), (Bytes{7, 9}));
  EXPECT_EQ(pixel_bytes(TexSubtype::indexed_expanded, {7}, palette),
            (Bytes{0x33, 0x22, 0x11, 0x44}));
  EXPECT_EQ(pixel_bytes(TexSubtype::truecolour24, {0x11, 0x22, 0x33, 1, 2, 3}, palette),
            (Bytes{0x33, 0x22, 0x11, 3, 2, 1}));
  EXPECT_EQ(pixel_bytes(TexSubtype::truecolour32, {0x11, 0x22, 0x33, 0x44}, palette),
            (Bytes{0x33, 0x22, 0x11, 0x44}));
}

TEST(Tga, ColourMapSkipCoversImageIdAndWholeEntries) {
  struct Case {
    unsigned id_length, map_length, entry_bits, skipped;
  } cases[] = {{0, 256, 24, 768}, {0, 256, 32, 1024}, {0, 256, 16, 512}, {0, 0, 24, 0},
               {0, 256, 0, 0},    {0, 10, 15, 20},    {5, 256, 24, 773}};
  for (const Case& c : cases) {
    Bytes file = {static_cast<unsigned char>(c.id_length),
                  1,
                  1,
                  0,
                  0,
                  0,
                  0,
                  static_cast<unsigned char>(c.entry_bits),
                  0,
                  0,
                  0,
                  0,
                  1,
                  0,
                  1,
                  0,
                  8,
                  0};
    put_u16le(&file[5], static_cast<std::uint16_t>(c.map_length));
    file.resize(18 + c.skipped, 0xee);
    file.push_back(0x5a);  // the single pixel
    const Decoded d = decode(file);
    EXPECT_EQ(d.result, ReadResult::ok) << c.map_length << " x " << c.entry_bits;
    EXPECT_EQ(d.pixels, Bytes{0x5a}) << c.map_length << " x " << c.entry_bits;
  }
}

TEST(Tga, ShortFilesFailAtTheHeaderOrWithEndOfFile) {
  const Bytes image = make_tga8(3, 2, {1, 2, 3, 4, 5, 6}, sample_palette());
  for (std::size_t length = 0; length < image.size(); ++length) {
    const Decoded d = decode(Bytes(image.begin(), image.begin() + static_cast<long>(length)));
    EXPECT_EQ(d.result, length < 18 ? ReadResult::read_error : ReadResult::end_of_file)
        << "length " << length;
  }
}

TEST(Tga, SplitterImageReadsBackInFileOrderAndNothingAfterTheLastPixel) {
  const TexPalette palette = sample_palette();
  const Bytes pixels = sample_level(5, 3, 1);
  ByteBuffer file;
  write_tga_header(file, tga_header_for_subtype(TexSubtype::indexed, 5, 3));
  write_tga_colour_map(file, palette);
  write_tga_pixels(file, TexSubtype::indexed, pixels, palette);
  ASSERT_EQ(file.size(), 786u + 15u);
  file.push_back(0x99);  // a footer byte that must not be read

  const Decoded d = decode(file);
  EXPECT_EQ(d.result, ReadResult::ok);
  EXPECT_EQ(d.header.width, 5);
  EXPECT_EQ(d.header.height, 3);
  EXPECT_EQ(d.pixels, pixels);
  EXPECT_EQ(d.end_position, 801);
}

TEST(Tga, PaintProgramLayoutsAreDeliveredBottomRowFirst) {
  const unsigned width = 7;
  const unsigned height = 5;
  Bytes pixels = sample_level(width, height, 1);
  // Long runs as well as raw stretches, some running across row ends.
  std::fill(pixels.begin() + 4, pixels.begin() + 17, 0x42);
  const struct {
    const char* name;
    TgaOptions options;
  } layouts[] = {
      {"plain with image ID", {1, 0x00, "made by hand", true}},
      {"top row first", {1, 0x20, "", false}},
      {"right to left", {1, 0x10, "", false}},
      {"top right first", {1, 0x30, "", false}},
      {"run-length", {9, 0x00, "", true}},
      {"run-length grey, top row first", {11, 0x20, "id", false}},
  };
  for (const auto& layout : layouts) {
    const Decoded d = decode(make_tga8(width, height, pixels, sample_palette(), layout.options));
    EXPECT_EQ(d.result, ReadResult::ok) << layout.name;
    EXPECT_EQ(first_difference(d.pixels, pixels), -1) << layout.name;
  }
}

TEST(Tga, RunLengthPacketsAreDecodedExactly) {
  Bytes header = {0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 8, 0};
  Bytes file = header;
  // A run of 4 crossing the end of the first row, then a raw packet of 2.
  const Bytes packets = {0x83, 0x07, 0x01, 0x08, 0x09};
  file.insert(file.end(), packets.begin(), packets.end());
  file.push_back(0x77);  // trailing byte: never read
  const Decoded d = decode(file);
  EXPECT_EQ(d.result, ReadResult::ok);
  EXPECT_EQ(d.pixels, (Bytes{7, 7, 7, 7, 8, 9}));
  EXPECT_EQ(d.end_position, 18 + 5);

  // Packets that end before the last pixel, and a run cut before its value.
  for (const Bytes& cut : {Bytes{0x83, 0x07}, Bytes{0x83, 0x07, 0x01, 0x08}, Bytes{0x85}}) {
    Bytes short_file = header;
    short_file.insert(short_file.end(), cut.begin(), cut.end());
    EXPECT_EQ(decode(short_file).result, ReadResult::end_of_file);
  }

  // A run longer than the image needs is cut off without reading further.
  Bytes long_run = header;
  long_run.insert(long_run.end(), {0xff, 0x05, 0x66});
  const Decoded d2 = decode(long_run);
  EXPECT_EQ(d2.result, ReadResult::ok);
  EXPECT_EQ(d2.pixels, Bytes(6, 5));
  EXPECT_EQ(d2.end_position, 20);
}

TEST(Tga, ColourMapIsKeptForTheIndicesPixelsCanReach) {
  TexPalette palette = sample_palette();
  // A 32-bit map of three entries starting at index 254: entries for 254 and
  // 255 are kept, the third reaches past 255 and is skipped.
  Bytes file = {0, 1, 1, 254, 0, 3, 0, 32, 0, 0, 0, 0, 2, 0, 1, 0, 8, 0};
  const TexPaletteEntry& e254 = palette[254];
  file.insert(file.end(), {e254[0], e254[1], e254[2], 0x00});  // alpha differs: not compared
  file.insert(file.end(), {1, 2, 3, 4});                       // not the palette's colour 255
  file.insert(file.end(), {9, 9, 9, 9});
  file.insert(file.end(), {254, 7});  // the pixels
  std::FILE* in = stream_with(file);
  TgaHeader header;
  ColourMap map;
  ASSERT_TRUE(read_tga_header(in, header));
  ASSERT_EQ(read_tga_colour_map(in, header, map), ReadResult::ok);
  Bytes pixels(2);
  ASSERT_EQ(read_tga_indices(in, header, pixels), ReadResult::ok);
  std::fclose(in);
  EXPECT_EQ(pixels, (Bytes{254, 7}));
  EXPECT_TRUE(map.present[254] && map.present[255]);
  EXPECT_FALSE(map.present[0] || map.present[7]);
  EXPECT_FALSE(tga_colours_differ(map, pixels, palette));  // 7 lies outside the map
  EXPECT_TRUE(tga_colours_differ(map, Bytes{255}, palette));

  // A map cut short keeps what it holds and meets the end.
  const Bytes cut(file.begin(), file.begin() + 18 + 6);
  in = stream_with(cut);
  ASSERT_TRUE(read_tga_header(in, header));
  EXPECT_EQ(read_tga_colour_map(in, header, map), ReadResult::end_of_file);
  std::fclose(in);
  EXPECT_TRUE(map.present[254]);
  EXPECT_FALSE(map.present[255]);
}

TEST(Tga, EveryColourModeDecodesToItsColour) {
  // One pixel each, bytes written out by hand: 16-bit 0x7E01 is red 31, green
  // 16, blue 1 (widened to 255, 132, 8); the top bit is no alpha.
  const struct {
    const char* name;
    Bytes file;
    Rgba colour;
  } rows[] = {
      {"16-bit",
       {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 16, 0, 0x01, 0x7E},
       {255, 132, 8, 255}},
      {"15-bit, top bit set",
       {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 15, 0, 0x01, 0xFE},
       {255, 132, 8, 255}},
      {"grey", {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 8, 0, 0x5A}, {90, 90, 90, 255}},
      {"32-bit map",
       {0, 1, 1, 0, 0, 2, 0, 32, 0, 0, 0, 0, 1, 0, 1, 0, 8, 0, 9, 9, 9, 9, 1, 2, 3, 4, 1},
       {3, 2, 1, 4}},
      {"16-bit map",
       {0, 1, 1, 0, 0, 1, 0, 16, 0, 0, 0, 0, 1, 0, 1, 0, 8, 0, 0x01, 0x7E, 0},
       {255, 132, 8, 255}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::FILE* in = stream_with(row.file);
    TgaHeader header;
    ColourMap map;
    std::array<unsigned char, 4> pixel{};
    ASSERT_TRUE(read_tga_header(in, header));
    const unsigned bytes = tga_colour_pixel_bytes(header);
    ASSERT_EQ(read_tga_colour_map(in, header, map), ReadResult::ok);
    ASSERT_EQ(read_tga_pixel_bytes(in, header, pixel, bytes), ReadResult::ok);
    EXPECT_EQ(std::fgetc(in), EOF);  // every byte of the pixel read
    std::fclose(in);
    EXPECT_EQ(tga_pixel_colour(pixel.data(), header, map), row.colour);
  }
}
