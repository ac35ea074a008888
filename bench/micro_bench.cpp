// The inner byte loops, in bytes per second: reading TEX pixels, making TGA
// pixels of each sub-type, reading TGA indices (plain and run-length) and
// making a TEX level. Input streams are anonymous temporary files, as
// buffered and as checked as the tools' own; output is made in memory, as
// the tools make it before writing a file in one piece.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "formats/tex.h"
#include "formats/tex_tga.h"
#include "formats/tga.h"
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

}  // namespace

BENCHMARK(read_tex_pixels);
BENCHMARK(write_tga_pixels_of)->ArgName("subtype")->Arg(1)->Arg(14)->Arg(17)->Arg(18);
BENCHMARK(read_tga_indices_of)->ArgName("image_type")->Arg(1)->Arg(9);
BENCHMARK(write_tex_level_of);

BENCHMARK_MAIN();
