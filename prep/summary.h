#pragma once

#include "prep/colour_match.h"
#include "prep/read_inputs.h"
#include "shell/texture_path.h"

/// Where the palette of the result came from.
enum class PaletteSource { palette_file, texture, image };

/// Tells the user what skinprep found and did: the image read, the reference texture, the
/// palette's source, how each level was made and whose alpha it has. What
/// the user may not expect is warned of on standard error after it: a
/// texture of another size than the image, pixels that come
/// out see-through unseen, a reduction poor enough to show.
void print_summary(const TextureFiles& files, const ImageFile& image, PaletteSource source,
                   const Reference& ref, const MatchCounts& counts);
