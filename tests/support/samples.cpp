#include "support/samples.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "formats/bytes.h"
#include "formats/png.h"
#include "support/streams.h"

TexPalette sample_palette() {
  TexPalette palette{};
  for (unsigned n = 0; n < 256; ++n) {
    palette[n] = {static_cast<unsigned char>(n), static_cast<unsigned char>(255 - n),
                  static_cast<unsigned char>(3 * n + 7), static_cast<unsigned char>(5 * n + 1)};
  }
  return palette;
}

unsigned char sample_index(unsigned column, unsigned row) {
  return static_cast<unsigned char>(column * 3 + row * 7 + column * row / 5);
}

Bytes sample_level(unsigned width, unsigned height, unsigned step) {
  Bytes level;
  level.reserve(std::size_t{width} * height);
  for (unsigned row = 0; row < height; ++row) {
    for (unsigned column = 0; column < width; ++column) {
      level.push_back(sample_index(column * step, row * step));
    }
  }
  return level;
}

namespace {

void append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

/// A level in the TEX file's own pixel bytes: indices, or made-up colours
/// whose bytes all differ, for the true-colour sub-types.
Bytes stored_level(TexSubtype subtype, unsigned width, unsigned height, unsigned step) {
  const Bytes indices = sample_level(width, height, step);
  const unsigned size = tex_bytes_per_pixel(subtype);
  Bytes out;
  for (const unsigned char index : indices) {
    for (unsigned b = 0; b < size; ++b)
      out.push_back(static_cast<unsigned char>(index + 61 * b));
  }
  return out;
}

/// Run-length packets of at most 128 pixels of size bytes over the whole pixel
/// sequence, so packets run across row ends; runs of 3 or more repeated
/// pixels become run packets.
Bytes encode_rle(const Bytes& bytes, std::size_t size) {
  const std::size_t count = bytes.size() / size;
  const auto same = [&](std::size_t a, std::size_t b) {
    return std::equal(bytes.begin() + static_cast<long>(a * size),
                      bytes.begin() + static_cast<long>((a + 1) * size),
                      bytes.begin() + static_cast<long>(b * size));
  };
  const auto copy = [&](Bytes& out, std::size_t from, std::size_t pixels) {
    out.insert(out.end(), bytes.begin() + static_cast<long>(from * size),
               bytes.begin() + static_cast<long>((from + pixels) * size));
  };
  Bytes out;
  std::size_t at = 0;
  while (at < count) {
    std::size_t run = 1;
    while (at + run < count && run < 128 && same(at + run, at))
      ++run;
    if (run >= 3) {
      out.push_back(static_cast<unsigned char>(0x80 | (run - 1)));
      copy(out, at, 1);
      at += run;
      continue;
    }
    std::size_t raw = 0;
    while (at + raw < count && raw < 128) {
      std::size_t ahead = 1;
      while (at + raw + ahead < count && ahead < 3 && same(at + raw + ahead, at + raw))
        ++ahead;
      if (ahead >= 3) break;
      ++raw;
    }
    out.push_back(static_cast<unsigned char>(raw - 1));
    copy(out, at, raw);
    at += raw;
  }
  return out;
}

/// Pixels of size bytes given bottom row first, in the order the descriptor
/// asks for, run-length encoded for the image types that are (9 to 11).
Bytes store_pixels(unsigned width, unsigned height, const Bytes& bottom_up, std::size_t size,
                   const TgaOptions& options) {
  const bool top_first = (options.descriptor & 0x20) != 0;
  const bool right_first = (options.descriptor & 0x10) != 0;
  Bytes stored;
  for (unsigned r = 0; r < height; ++r) {
    const unsigned row = top_first ? height - 1 - r : r;
    for (unsigned c = 0; c < width; ++c) {
      const unsigned column = right_first ? width - 1 - c : c;
      const std::size_t at = (std::size_t{row} * width + column) * size;
      stored.insert(stored.end(), bottom_up.begin() + static_cast<long>(at),
                    bottom_up.begin() + static_cast<long>(at + size));
    }
  }
  return options.image_type >= 9 ? encode_rle(stored, size) : stored;
}

void append_footer(Bytes& out, const TgaOptions& options) {
  if (!options.footer) return;
  const Bytes footer = {0,   0,   0,   0,   0,   0,   0,   0,   'T', 'R', 'U', 'E', 'V',
                        'I', 'S', 'I', 'O', 'N', '-', 'X', 'F', 'I', 'L', 'E', '.', 0};
  append(out, footer);
}

}  // namespace

Bytes make_tex(TexSubtype subtype, unsigned x, unsigned y) {
  Bytes out(kTexHeaderSize);
  put_u16le(&out[0], static_cast<std::uint16_t>(x));
  put_u16le(&out[2], static_cast<std::uint16_t>(y));
  std::copy(kTexDefaultTail.begin(), kTexDefaultTail.end(), out.begin() + 4);
  out[4] = static_cast<unsigned char>(subtype);
  if (subtype == TexSubtype::indexed || subtype == TexSubtype::indexed_expanded) {
    for (const TexPaletteEntry& entry : sample_palette())
      out.insert(out.end(), entry.begin(), entry.end());
  }
  append(out, stored_level(subtype, x, y, 1));
  append(out, stored_level(subtype, x / 2, y / 2, 2));
  append(out, stored_level(subtype, x / 4, y / 4, 4));
  if (out.size() < tex_written_length(x, y)) out.resize(tex_written_length(x, y), 0);
  return out;
}

Bytes make_tga8(unsigned width, unsigned height, const Bytes& bottom_up_pixels,
                const TexPalette& palette, const TgaOptions& options) {
  Bytes out(18, 0);
  out[0] = static_cast<unsigned char>(options.image_id.size());
  out[1] = 1;  // colour map present
  out[2] = options.image_type;
  put_u16le(&out[5], 256);
  out[7] = 24;
  put_u16le(&out[12], static_cast<std::uint16_t>(width));
  put_u16le(&out[14], static_cast<std::uint16_t>(height));
  out[16] = 8;
  out[17] = options.descriptor;
  out.insert(out.end(), options.image_id.begin(), options.image_id.end());
  for (const TexPaletteEntry& entry : palette)
    out.insert(out.end(), entry.begin(), entry.begin() + 3);

  append(out, store_pixels(width, height, bottom_up_pixels, 1, options));
  append_footer(out, options);
  return out;
}

Bytes make_tga_colours(unsigned width, unsigned height, const std::vector<Rgba>& bottom_up,
                       unsigned depth, const TgaOptions& options) {
  Bytes out(18, 0);
  out[0] = static_cast<unsigned char>(options.image_id.size());
  out[2] = options.image_type;
  put_u16le(&out[12], static_cast<std::uint16_t>(width));
  put_u16le(&out[14], static_cast<std::uint16_t>(height));
  out[16] = static_cast<unsigned char>(depth);
  out[17] = options.descriptor;
  out.insert(out.end(), options.image_id.begin(), options.image_id.end());
  Bytes pixels;
  for (const Rgba& c : bottom_up) {
    if (depth == 8) {
      pixels.push_back(c[0]);
    } else if (depth == 15 || depth == 16) {
      const unsigned value = ((c[0] >> 3U) << 10U) | ((c[1] >> 3U) << 5U) | (c[2] >> 3U);
      append(pixels,
             {static_cast<unsigned char>(value & 0xff), static_cast<unsigned char>(value >> 8)});
    } else {
      append(pixels, {c[2], c[1], c[0]});
      if (depth == 32) pixels.push_back(c[3]);
    }
  }
  append(out, store_pixels(width, height, pixels, (depth + 7) / 8, options));
  append_footer(out, options);
  return out;
}

std::vector<Rgba> colours_of_level(const Bytes& indices) {
  const TexPalette palette = sample_palette();
  std::vector<Rgba> colours;
  for (const unsigned char index : indices)
    colours.push_back({palette[index][2], palette[index][1], palette[index][0], palette[index][3]});
  return colours;
}

bool in_translucent_part(unsigned x, unsigned y, unsigned width, unsigned height) {
  return x >= width / 4 && x < 3 * width / 4 && y >= height / 4 && y < 3 * height / 4;
}

std::vector<Rgba> repaint_colours(unsigned width, unsigned height) {
  std::vector<Rgba> colours;
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      const unsigned u = width > 1 ? 255 * x / (width - 1) : 0;
      const unsigned v = height > 1 ? 255 * y / (height - 1) : 0;
      colours.push_back(
          {static_cast<unsigned char>(u), static_cast<unsigned char>((u + v) / 2),
           static_cast<unsigned char>(255 - v),
           static_cast<unsigned char>(in_translucent_part(x, y, width, height) ? 96 : 255)});
    }
  }
  return colours;
}

Bytes make_pal(const TexPalette& palette) {
  Bytes out = {'R', 'I', 'F', 'F', 0x14, 0x04, 0, 0, 'P',  'A',  'L',  ' ',
               'd', 'a', 't', 'a', 0x08, 0x04, 0, 0, 0x00, 0x03, 0x00, 0x01};
  for (const TexPaletteEntry& e : palette)
    append(out, {e[2], e[1], e[0], e[3]});
  append(out, {0, 0, 0, 0});
  return out;
}

Bytes shrink_tga8(const Bytes& image, unsigned divisor) {
  if (image.size() < 18) throw std::runtime_error("not a TGA image");
  const unsigned width = get_u16le(&image[12]);
  const unsigned height = get_u16le(&image[14]);
  const std::size_t data = 18u + image[0] + get_u16le(&image[5]) * ((image[7] + 7u) / 8u);
  if (image[2] != 1 || image[16] != 8 || image.size() < data + std::size_t{width} * height)
    throw std::runtime_error("not an uncompressed 8-bit TGA image");
  Bytes out(image.begin(), image.begin() + static_cast<long>(data));
  put_u16le(&out[12], static_cast<std::uint16_t>(width / divisor));
  put_u16le(&out[14], static_cast<std::uint16_t>(height / divisor));
  for (unsigned row = 0; row < height / divisor; ++row) {
    for (unsigned column = 0; column < width / divisor; ++column) {
      out.push_back(image[data + std::size_t{row} * divisor * width + column * divisor]);
    }
  }
  return out;
}

Bytes frame_parts(const std::vector<std::optional<Bytes>>& parts) {
  Bytes out;
  for (const auto& part : parts) {
    const std::size_t length = part ? part->size() : 0xffff;
    out.push_back(static_cast<unsigned char>(length & 0xff));
    out.push_back(static_cast<unsigned char>(length >> 8));
  }
  for (const auto& part : parts) {
    if (part) out.insert(out.end(), part->begin(), part->end());
  }
  return out;
}

std::vector<std::optional<Bytes>> unframe_parts(const Bytes& data, std::size_t count) {
  std::vector<std::optional<Bytes>> parts(count);
  std::size_t at = 2 * count;
  for (std::size_t i = 0; i < count && 2 * i + 1 < data.size(); ++i) {
    const std::size_t length = get_u16le(&data[2 * i]);
    if (length == 0xffff) continue;
    const std::size_t begin = std::min(at, data.size());
    const std::size_t end = std::min(at + length, data.size());
    parts[i] =
        Bytes(data.begin() + static_cast<long>(begin), data.begin() + static_cast<long>(end));
    at = end;
  }
  return parts;
}

namespace {

/// A PNG image again in another of libpng's formats: grey, grey and alpha,
/// RGB, 16 bits a sample, a palette.
Bytes reencode_png(const Bytes& png, std::uint32_t format) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0)
    throw std::runtime_error("cannot read a PNG image");
  image.format = format;
  Bytes pixels(PNG_IMAGE_SIZE(image));
  std::array<unsigned char, 256 * 4> colour_map{};
  const png_color background = {0x40, 0x80, 0xc0};
  if (png_image_finish_read(&image, &background, pixels.data(), 0, colour_map.data()) == 0)
    throw std::runtime_error(std::string("cannot read a PNG image: ") + image.message);
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, colour_map.data());
  Bytes out(size);
  if (png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0,
                                colour_map.data()) == 0)
    throw std::runtime_error("cannot make a PNG image");
  out.resize(size);
  return out;
}

}  // namespace

void write_fuzz_seeds(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  for (const char* target : {"tex", "tga", "png", "pal", "split", "weld", "prep"})
    fs::create_directories(dir / target);
  const Bytes rgba = make_png(6, 4, colours_of_level(sample_level(6, 4, 1)));
  write_file(dir / "png" / "rgba.png", rgba);
  const std::pair<const char*, std::uint32_t> formats[] = {
      {"grey.png", PNG_FORMAT_GRAY},
      {"grey_alpha.png", PNG_FORMAT_GA},
      {"rgb.png", PNG_FORMAT_RGB},
      {"rgba16.png", PNG_FORMAT_LINEAR_RGB_ALPHA},
      {"grey16.png", PNG_FORMAT_LINEAR_Y},
      {"palette_alpha.png", PNG_FORMAT_RGBA_COLORMAP},
      {"palette.png", PNG_FORMAT_RGB_COLORMAP}};
  for (const auto& [name, format] : formats)
    write_file(dir / "png" / name, reencode_png(rgba, format));
  const TexPalette palette = sample_palette();
  for (const auto subtype : {TexSubtype::indexed, TexSubtype::indexed_expanded,
                             TexSubtype::truecolour24, TexSubtype::truecolour32}) {
    const std::string name = "subtype" + std::to_string(static_cast<int>(subtype)) + ".tex";
    write_file(dir / "tex" / name, make_tex(subtype, 8, 4));
    write_file(dir / "split" / name, make_tex(subtype, 8, 4));
  }
  const Bytes pixels = sample_level(6, 4, 1);
  write_file(dir / "tga" / "plain.tga", make_tga8(6, 4, pixels, palette));
  write_file(dir / "tga" / "rle_top_left.tga",
             make_tga8(6, 4, pixels, palette, {9, 0x20, "", true}));
  write_file(dir / "tga" / "grey_rle_right_to_left_id.tga",
             make_tga8(6, 4, pixels, palette, {11, 0x10, "id", false}));
  const std::vector<Rgba> colours = colours_of_level(pixels);
  write_file(dir / "tga" / "truecolour_rle_top_left.tga",
             make_tga_colours(6, 4, colours, 32, {10, 0x20, "", false}));
  write_file(dir / "tga" / "truecolour16.tga",
             make_tga_colours(6, 4, colours, 16, {2, 0, "", false}));
  write_file(dir / "pal" / "palette.pal", make_pal(palette));
  write_file(dir / "prep" / "with_tex_and_palette",
             frame_parts({make_tga_colours(8, 4, colours_of_level(sample_level(8, 4, 1)), 24,
                                           {2, 0, "", false}),
                          make_pal(palette), make_tex(TexSubtype::indexed, 8, 4)}));
  write_file(dir / "prep" / "png_alone",
             frame_parts({std::nullopt, std::nullopt, std::nullopt,
                          reencode_png(rgba, PNG_FORMAT_RGBA_COLORMAP)}));
  write_file(dir / "prep" / "image_alone",
             frame_parts({make_tga8(8, 4, sample_level(8, 4, 1), palette, {9, 0x20, "", false}),
                          std::nullopt, std::nullopt}));
  const Bytes tex = make_tex(TexSubtype::indexed, 8, 4);
  write_file(
      dir / "weld" / "with_tex",
      frame_parts({make_pal(palette), make_tga8(8, 4, sample_level(8, 4, 1), palette),
                   make_tga8(4, 2, sample_level(4, 2, 2), palette, {9, 0, "", false}),
                   make_tga8(2, 1, sample_level(2, 1, 4), palette, {1, 0x20, "", false}), tex}));
  write_file(dir / "weld" / "without_tex",
             frame_parts({make_pal(palette), make_tga8(4, 4, sample_level(4, 4, 1), palette),
                          make_tga8(2, 2, sample_level(2, 2, 2), palette),
                          make_tga8(1, 1, sample_level(1, 1, 4), palette), std::nullopt}));
}

Bytes make_png(unsigned width, unsigned height, const std::vector<Rgba>& bottom_up) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  Bytes top_down;
  for (unsigned row = height; row-- > 0;) {
    for (unsigned x = 0; x < width; ++x) {
      const Rgba& c = bottom_up[std::size_t{row} * width + x];
      top_down.insert(top_down.end(), c.begin(), c.end());
    }
  }
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, top_down.data(), 0, nullptr);
  Bytes out(size);
  if (png_image_write_to_memory(&image, out.data(), &size, 0, top_down.data(), 0, nullptr) == 0)
    throw std::runtime_error("cannot make a PNG image");
  out.resize(size);
  return out;
}

Bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

namespace {

Bytes from_base64(const std::string& text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
  };
  Bytes bytes;
  unsigned group = 0;
  int bits = 0;
  for (const char c : text) {
    const int v = value(c);
    if (v < 0) break;  // the padding
    group = (group << 6U) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<unsigned char>(group >> static_cast<unsigned>(bits)));
    }
  }
  return bytes;
}

}  // namespace

std::vector<Rgba> preview_panel(const std::string& html, const std::string& name, unsigned& width,
                                unsigned& height) {
  std::size_t at = html.find("data-panel=\"" + name + "\"");
  if (at == std::string::npos) return {};
  // A second picture of the same pixels takes its source from the first.
  const std::string copy = "data-copy-of=\"";
  const std::size_t copy_at = html.find(copy, at);
  if (copy_at < html.find('>', at)) {
    const std::size_t id = copy_at + copy.size();
    at = html.find("id=\"" + html.substr(id, html.find('"', id) - id) + "\"");
    if (at == std::string::npos) throw std::runtime_error("the panel " + name + " copies nothing");
  }
  const std::string lead = "src=\"data:image/png;base64,";
  const std::size_t start = html.find(lead, at) + lead.size();
  return png_colours(from_base64(html.substr(start, html.find('"', start) - start)), width, height);
}

std::vector<Rgba> png_colours(const Bytes& png, unsigned& width, unsigned& height,
                              std::vector<unsigned char>* indices, ColourMap* map) {
  // The tools' own reader keeps the colour of see-through pixels as stored.
  std::FILE* stream = stream_with(png);
  std::vector<Rgba> pixels(kTexMaxPixels);
  PngImage image;
  const PngResult result =
      read_png(stream, image, std::span(pixels.front().data(), kTexMaxPixels * 4));
  std::fclose(stream);
  if (result != PngResult::ok) throw std::runtime_error("no PNG image");
  width = image.width;
  height = image.height;
  const std::size_t count = std::size_t{width} * height;
  if (indices != nullptr) indices->clear();
  if (map != nullptr) *map = image.map;
  if (image.indexed) {  // the indices came one byte each: their colours, from the end back
    const auto* stored = pixels.front().data();
    if (indices != nullptr) indices->assign(stored, stored + count);
    for (std::size_t k = count; k-- > 0;) {
      if (!image.map.present[stored[k]]) throw std::runtime_error("an entry the PNG lacks");
      pixels[k] = image.map.colour[stored[k]];
    }
  }
  pixels.resize(count);
  return pixels;
}

Rgba tex_shown_colour(const Bytes& tex, std::size_t n) {
  const unsigned char* entry = &tex[14 + 4 * n];
  return tex[4] == static_cast<unsigned char>(TexSubtype::indexed_expanded)
             ? Rgba{entry[0], entry[1], entry[2], entry[3]}
             : Rgba{entry[2], entry[1], entry[0], entry[3]};
}

std::vector<Rgba> tex_level_colours(const Bytes& tex, std::size_t n) {
  const unsigned x = get_u16le(&tex[0]);
  const unsigned y = get_u16le(&tex[2]);
  std::size_t at = 14 + 1024;
  for (std::size_t level = 0; level < n; ++level)
    at += std::size_t{x >> level} * (y >> level);
  std::vector<Rgba> colours;
  for (std::size_t k = 0; k < std::size_t{x >> n} * (y >> n); ++k)
    colours.push_back(tex_shown_colour(tex, tex[at + k]));
  return colours;
}
