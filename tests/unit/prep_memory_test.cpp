#include <gtest/gtest.h>

#include <vector>

#include "formats/prep_memory.h"
#include "shell/prep_memory.h"
#include "support/samples.h"
#include "support/temp_dir.h"

// skinprep's memory read back by its record: whole (the up-to-date check,
// which trusts the pixels by their checksum) and from the first bytes only
// (skinweld), also where the record runs past those bytes.
TEST(PrepMemory, TheRecordIsReadWholeOrFromTheHeadAndTheWholeReadChecksThePixels) {
  std::vector<Rgba> colours(64 * 64);
  for (std::size_t k = 0; k < colours.size(); ++k)
    colours[k] = {static_cast<unsigned char>(k * 7), static_cast<unsigned char>(k / 64), 9, 255};
  for (const std::size_t warnings : {1, 400}) {
    SCOPED_TRACE(warnings);
    PrepMemory memory;
    memory.width = memory.height = 64;
    memory.colours = colours;
    memory.options = "choose";
    memory.image = 0x12345678;
    memory.levels = {1, 2, 3};
    memory.warnings.assign(warnings, "WARNING! a warning of some forty letters.\n");
    ByteBuffer file;
    ASSERT_TRUE(write_prep_memory(file, memory));
    TempDir dir;
    const std::string name = (dir / "car1_source.png").string();
    write_file(name, file);
    for (const MemoryTrust trust : {MemoryTrust::whole, MemoryTrust::record_only}) {
      PrepMemory read;
      ASSERT_EQ(read_prep_memory_record_file(name, read, trust), MemoryRead::ok);
      EXPECT_EQ(read.image, memory.image);
      EXPECT_EQ(read.levels, memory.levels);
      EXPECT_EQ(read.warnings, memory.warnings);
    }
    file[file.size() - 20] ^= 1;  // in the pixels, after the record
    write_file(name, file);
    PrepMemory read;
    EXPECT_EQ(read_prep_memory_record_file(name, read, MemoryTrust::whole), MemoryRead::not_memory);
    EXPECT_EQ(read_prep_memory_record_file(name, read, MemoryTrust::record_only), MemoryRead::ok);
  }
}
