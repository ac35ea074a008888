#include <gtest/gtest.h>

#include "formats/tex.h"
#include "support/samples.h"
#include "support/streams.h"

TEST(Tex, WritersProduceTheLittleEndianLayout) {
  TexHeader header;
  header.x_size = 0x0102;
  header.y_size = 0x0304;
  header.tail = {14, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  TexPalette palette{};
  palette[0] = {0x11, 0x22, 0x33, 0x44};
  palette[255] = {0xaa, 0xbb, 0xcc, 0xdd};
  const Bytes level = {5, 6, 7};
  ByteBuffer bytes;
  write_tex_header(bytes, header);
  write_tex_palette(bytes, palette);
  write_tex_level(bytes, level);

  ASSERT_EQ(bytes.size(), 14u + 1024u + 3u);
  const Bytes head(bytes.begin(), bytes.begin() + 14);
  EXPECT_EQ(head, (Bytes{0x02, 0x01, 0x04, 0x03, 14, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(Bytes(bytes.begin() + 14, bytes.begin() + 18), (Bytes{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(Bytes(bytes.begin() + 1034, bytes.begin() + 1038), (Bytes{0xaa, 0xbb, 0xcc, 0xdd}));
  EXPECT_EQ(Bytes(bytes.end() - 3, bytes.end()), level);
}

TEST(Tex, DimensionsAreReadLowByteFirstAndAMissingByteIsNamed) {
  const Bytes header = {0x00, 0x01, 0x80, 0x00, 0x12};
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::FILE* in = stream_with(header);
  EXPECT_EQ(read_tex_dimensions(in, x, y), TexDimensionsResult::ok);
  EXPECT_EQ(x, 256);
  EXPECT_EQ(y, 128);
  EXPECT_EQ(read_tex_subtype(in), static_cast<TexSubtype>(0x12));
  EXPECT_EQ(read_tex_subtype(in), std::nullopt);
  std::fclose(in);

  const TexDimensionsResult expected[] = {
      TexDimensionsResult::x_missing, TexDimensionsResult::x_missing,
      TexDimensionsResult::y_missing, TexDimensionsResult::y_missing};
  for (std::size_t length = 0; length < 4; ++length) {
    std::FILE* cut = stream_with(Bytes(header.begin(), header.begin() + static_cast<long>(length)));
    EXPECT_EQ(read_tex_dimensions(cut, x, y), expected[length]) << "length " << length;
    std::fclose(cut);
  }
}

TEST(Tex, TheShortestFileIsTheLengthSkinweldWrites) {
  EXPECT_EQ(tex_written_length(256, 256), 87054u);
  EXPECT_EQ(tex_written_length(0, 200), 1038u);
  // 6 × 6: the levels of 36, 9 and 1 pixels (not 36 + 9 + 36 div 16 = 2).
  EXPECT_EQ(tex_written_length(6, 6), 1084u);
  // The largest header values must not wrap around 32 bits.
  EXPECT_EQ(tex_written_length(65535, 65535), 5636916241ull);
}

TEST(Tex, PaletteIsReadInFileOrderAndEndOfFileIsReported) {
  const Bytes file = make_tex(TexSubtype::indexed, 4, 4);
  std::FILE* in = stream_with(file);
  std::fseek(in, 14, SEEK_SET);
  TexPalette palette{};
  EXPECT_EQ(read_tex_palette(in, palette), ReadResult::ok);
  EXPECT_EQ(palette, sample_palette());
  std::fclose(in);

  std::FILE* cut = stream_with(Bytes(file.begin(), file.begin() + 1037));
  std::fseek(cut, 14, SEEK_SET);
  EXPECT_EQ(read_tex_palette(cut, palette), ReadResult::end_of_file);
  std::fclose(cut);
}
