#pragma once

#include <cstdio>

// A texture's input is read in 64 KiB pieces rather than the library's 4 KiB
// ones. Output streams keep the library's buffer of one file-system block:
// a write failure then shows in the progress where it always has.

/// Gives an input stream the 64 KiB read buffer, if no other stream has it.
/// Must be called before the first read; returns whether the buffer was lent.
bool borrow_input_buffer(std::FILE* stream);

/// Takes the buffer back once the stream that borrowed it is closed.
void return_input_buffer();
