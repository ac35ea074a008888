// The inner byte loops, in bytes per second: reading TEX pixels, making TGA
// pixels of each sub-type, reading TGA indices (plain and run-length) and
// making a TEX level; and the time skinprep's preview page of a 256 x 256
// texture takes. Input streams are anonymous temporary files, as
// buffered and as checked as the tools' own; output is made in memory, as
// the tools make it before writing a file in one piece.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "formats/tex.h"
#include "formats/tex_tga.h"
#include "formats/tga.h"
#include "prep/preview.h"
#include "support/samples.h"
#include "support/streams.h"

namespace {

constexpr unsigned kSide = 256;

void read_tex_pixels(benchmark::State& state) {
  const Bytes file(kSide * kSide, 0x5a);
  std::FILE* in = stream_with(file);
  Bytes pixels(file.size());
  for (auto _ : state) {
    std::rewind(in);
    benchmark::DoNotOptimize(read_bytes(in, pixels));
  }
  std::fclose(in);
  state.SetBytesProcessed(static_cast<long>(state.iterations() * pixels.size()));
}

void write_tga_pixels_of(benchmark::State& state) {
  const auto subtype = static_cast<TexSubtype>(state.range(0));
  const Bytes stored(std::size_t{kSide} * kSide * tex_bytes_per_pixel(subtype), 0x21);
  const TexPalette palette = sample_palette();
  ByteBuffer out;
  for (auto _ : state) {
    out.clear();
    write_tga_pixels(out, subtype, stored, palette);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<long>(state.iterations() * stored.size()));
}

void read_tga_indices_of(benchmark::State& state) {
  TgaOptions options;
  options.image_type = static_cast<std::uint8_t>(state.range(0));
  const Bytes image =
      make_tga8(kSide, kSide, sample_level(kSide, kSide, 1), sample_palette(), options);
  std::FILE* in = stream_with(image);
  Bytes level(std::size_t{kSide} * kSide);
  for (auto _ : state) {
    std::rewind(in);
    TgaHeader header;
    read_tga_header(in, header);
    ColourMap map;
    read_tga_colour_map(in, header, map);
    benchmark::DoNotOptimize(read_tga_indices(in, header, level));
  }
  std::fclose(in);
  state.SetBytesProcessed(static_cast<long>(state.iterations() * level.size()));
}

void write_tex_level_of(benchmark::State& state) {
  const Bytes level(std::size_t{kSide} * kSide, 0x33);
  ByteBuffer out;
  for (auto _ : state) {
    out.clear();
    write_tex_level(out, level);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<long>(state.iterations() * level.size()));
}

/// The preview page of a 256 x 256 texture of random entries (the worst
/// case for compression), with the texture being replaced, also random, and
/// one entry in four changed.
void write_preview_page(benchmark::State& state) {
  static TexLevels old_levels;
  static TexLevels levels;
  std::uint32_t random = 2463534242U;
  const auto next = [&random] {
    random ^= random << 13U;
    random ^= random >> 17U;
    random ^= random << 5U;
    return static_cast<unsigned char>(random);
  };
  for (TexLevels* level : {&old_levels, &levels}) {
    for (unsigned char& index : level->high)
      index = next();
    for (unsigned char& index : level->medium)
      index = next();
    for (unsigned char& index : level->low)
      index = next();
  }
  const TexPalette old_palette = sample_palette();
  static MatchScratch scratch;  // no pixel kept as it was: each change is a paint
  Match m;
  m.image.width = m.image.height = kSide;
  m.result = &levels;
  m.scratch = &scratch;
  m.setting.palette = old_palette;
  for (std::size_t n = 0; n < 256; n += 4)
    m.setting.palette[n][0] ^= 0x40;
  m.old.usable = true;
  m.old.palette = &old_palette;
  m.old.levels = &old_levels;
  ByteBuffer out;
  for (auto _ : state) {
    out.clear();
    write_preview(out, m, "bench: tga/bench.tga", "summary");
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["page KiB"] = static_cast<double>(out.size()) / 1024;
}

}  // namespace

BENCHMARK(read_tex_pixels);
BENCHMARK(write_tga_pixels_of)->ArgName("subtype")->Arg(1)->Arg(14)->Arg(17)->Arg(18);
BENCHMARK(read_tga_indices_of)->ArgName("image_type")->Arg(1)->Arg(9);
BENCHMARK(write_tex_level_of);
BENCHMARK(write_preview_page)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
