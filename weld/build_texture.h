#pragma once

/// Builds one TEX file from the RIFF palette file and the high, medium and low
/// TGA images in the directory named after the texture, keeping the header
/// tail of the TEX file it replaces. A ".tex" or ".TEX" ending is cut off the
/// argument in place. Returns whether the TEX file was written.
bool build_texture(char* argument);
