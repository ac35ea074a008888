#pragma once

/// Converts one TEX texture into a TGA image, and for sub-type 1 also a RIFF
/// palette file, in the subdirectory "tga" beside it. The argument is the
/// texture's path; it is overwritten with the texture's base name. Returns
/// whether both outputs were written.
bool split_texture(char* argument);
