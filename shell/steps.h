#pragma once

#include <cstdio>
#include <span>
#include <string>

#include "files/input_file.h"
#include "files/output_file.h"
#include "formats/bytes.h"
#include "formats/tex.h"

// Steps that more than one tool takes, each with its console messages: the
// tools' procedures are these and their own steps, in order.

/// Reports a read that did not end well: the system's reason after
/// read_error_message, or end_of_file_message alone. True for a good read.
bool report_read(ReadResult result, const char* read_error_message,
                 const char* end_of_file_message);

/// Opens an input that may be missing: found says whether it is there. Any
/// other reason it cannot be opened is a failure, reported with message.
bool open_if_present(const std::string& name, InputFile& file, bool& found, const char* message);

/// Reads an opened palette file's header and 256 entries, from "Reading data
/// for palette..." to "done!".
bool read_palette_data(std::FILE* file, TexPalette& palette);

/// Refuses a texture of a true-colour sub-type, which has no palette: indices
/// written under its header would be garbage. The refusal is format, printed
/// with the values that follow. True for any other sub-type.
[[gnu::format(printf, 2, 3)]] bool check_replaceable(TexSubtype subtype, const char* format, ...);

/// Creates a directory where none is (one that exists already is simply
/// used) and enters it. Writing anywhere else could overwrite unrelated
/// files, so a directory that cannot be entered is a failure, reported with
/// failure_message.
bool create_and_enter_directory(const std::string& name, const std::string& failure_message);

/// Warns that the texture tex_name, x × y, becomes new_x × new_y when
/// welded, and that skinsplit cannot read it back when it grows past that.
void warn_of_new_size(const std::string& tex_name, unsigned x, unsigned y, unsigned new_x,
                      unsigned new_y);

/// Puts written files that belong together in place together (see
/// commit_outputs), reporting a failure.
bool put_in_place(std::span<OutputFile* const> files);
