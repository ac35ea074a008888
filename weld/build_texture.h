#pragma once

#include "shell/driver.h"

/// Builds one TEX file from the RIFF palette file and the high, medium and low
/// TGA images in the directory named after the texture, keeping the header
/// tail of the TEX file it replaces. The argument names the image directory,
/// by any path, with or without a ".tex" or ".TEX" ending or a separator at
/// the end; the TEX file is written beside that directory. Returns whether the
/// TEX file was written. It comes back out of the image directory through
/// the directory the run started in.
bool build_texture(const char* argument, const ToolRun& run);
