#include <gtest/gtest.h>

#include "formats/pal.h"
#include "support/samples.h"
#include "support/streams.h"

namespace {

Bytes written_palette_file(const TexPalette& palette) {
  ByteBuffer bytes;
  write_pal_header(bytes);
  write_pal_entries(bytes, palette);
  write_pal_terminator(bytes);
  return bytes;
}

}  // namespace

TEST(Pal, WrittenFileHasTheRiffHeaderSwappedEntriesAndTerminator) {
  TexPalette palette = sample_palette();
  palette[0] = {0x10, 0x20, 0x30, 0x40};  // blue, green, red, alpha
  const Bytes file = written_palette_file(palette);
  ASSERT_EQ(file.size(), 1052u);
  const Bytes header = {0x52, 0x49, 0x46, 0x46, 0x14, 0x04, 0x00, 0x00, 0x50, 0x41, 0x4C, 0x20,
                        0x64, 0x61, 0x74, 0x61, 0x08, 0x04, 0x00, 0x00, 0x00, 0x03, 0x00, 0x01};
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 24), header);
  EXPECT_EQ(Bytes(file.begin() + 24, file.begin() + 28), (Bytes{0x30, 0x20, 0x10, 0x40}));
  const TexPaletteEntry& last = palette[255];
  EXPECT_EQ(Bytes(file.begin() + 1044, file.begin() + 1048),
            (Bytes{last[2], last[1], last[0], last[3]}));
  EXPECT_EQ(Bytes(file.end() - 4, file.end()), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(file, make_pal(palette));
}

TEST(Pal, WrittenAndReadBackIsTheSamePalette) {
  const TexPalette palette = sample_palette();
  std::FILE* in = stream_with(written_palette_file(palette));
  PalHeader header;
  TexPalette back{};
  ASSERT_TRUE(read_pal_header(in, header));
  EXPECT_EQ(header.riff_size, 1044u);
  EXPECT_EQ(header.entry_count, 256u);
  ASSERT_EQ(read_pal_entries(in, back), ReadResult::ok);
  EXPECT_EQ(back, palette);
  // The terminator is never looked at.
  EXPECT_EQ(std::ftell(in), 1048);
  std::fclose(in);
}

TEST(Pal, EveryShortFileFailsAtTheRightPlace) {
  Bytes file = make_pal(sample_palette());
  std::fill(file.begin(), file.begin() + 24, 0);  // the header is never examined
  for (std::size_t length = 0; length <= 1048; ++length) {
    std::FILE* in = stream_with(Bytes(file.begin(), file.begin() + static_cast<long>(length)));
    PalHeader header;
    TexPalette palette{};
    const bool header_read = read_pal_header(in, header);
    EXPECT_EQ(header_read, length >= 24) << "length " << length;
    if (header_read) {
      EXPECT_EQ(read_pal_entries(in, palette),
                length == 1048 ? ReadResult::ok : ReadResult::end_of_file)
          << "length " << length;
    }
    std::fclose(in);
  }
}
