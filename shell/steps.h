#pragma once

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "files/input_file.h"
#include "formats/bytes.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "shell/texture_path.h"

// Steps that more than one tool takes, each with its console messages: the
// tools' procedures are these and their own steps, in order.

/// Reports a read that did not end well: the system's reason after
/// read_error_message, or end_of_file_message alone. True for a good read.
bool report_read(ReadResult result, const char* read_error_message,
                 const char* end_of_file_message);

/// Opens an input that may be missing: found says whether it is there. Any
/// other reason it cannot be opened is a failure, reported with message.
bool open_if_present(const std::string& name, InputFile& file, bool& found, const char* message);

/// The same for a file that is read only to be replaced: only a regular
/// file is opened (see open_regular_input).
bool open_regular_if_present(const std::string& name, InputFile& file, bool& found,
                             const char* message);

/// Takes for each name the file it stands for in any case ("CAR5.TEX" for
/// car5.tex, see find_in_any_case), so that it is read, replaced and named
/// as found. A name that two files stand for is refused, naming both.
bool resolve_names(std::initializer_list<std::string*> names);

/// resolve_names for names in one directory listed already (see names_in).
bool resolve_names_among(const std::vector<std::string>& listing,
                         std::initializer_list<std::string*> names);

/// Reads a palette file, from "Opening NAME..." to "done!". A required one
/// that cannot be opened is a failure; an optional one that is not there
/// says "not found." and leaves found false.
bool read_palette_file(const std::string& name, bool required, TexPalette& palette, bool& found);

/// A TGA image as a tool reads it.
struct TgaImage {
  TgaHeader header;
  ColourMap map;
  unsigned pixel_bytes = 0;         ///< of each stored pixel
  std::span<unsigned char> pixels;  ///< where they are read to, bottom row first
};

/// What a tool takes of a TGA image, judged by its header: the bytes of each
/// stored pixel, or 0 once the refusal is reported.
using TgaHeaderCheck = std::function<unsigned(const TgaHeader&)>;

/// Reads an opened TGA image: its header, announcing its dimensions, then,
/// once check takes it, reading_text, the colour map and the pixels into
/// image.pixels (bottom row first, see read_tga_pixel_bytes).
bool read_tga_image(std::FILE* file, const char* reading_text, const TgaHeaderCheck& check,
                    TgaImage& image);

/// Says how large the image being read is, on a line of its own.
void print_image_dimensions(unsigned width, unsigned height);

/// Refuses an image wider or higher than the tools write. True when it fits.
bool check_image_fits(const TgaHeader& header);

/// Warns that the texture tex_name, of size was, becomes becomes when
/// welded, and that skinsplit cannot read it back when it grows past that.
void warn_of_new_size(const std::string& tex_name, TexSize was, TexSize becomes);

/// That warning's line.
std::string new_size_warning(const std::string& tex_name, TexSize was, TexSize becomes);
