#pragma once

#include "prep/colour_match.h"
#include "prep/read_inputs.h"
#include "shell/texture_path.h"

/// Where the palette of the result came from.
enum class PaletteSource { palette_file, texture, image };

/// Tells the user what skinprep found and did: the reference texture, the
/// palette's source, and how each level was made. A reduction poor enough
/// to show is warned of on standard error after it.
void print_summary(const TextureFiles& files, PaletteSource source, const Reference& ref,
                   const MatchCounts& counts);
