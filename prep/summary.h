#pragma once

#include "prep/prep_work.h"
#include "shell/texture_path.h"

/// Tells the user what skinprep found and did: the image read, the texture
/// it replaces, the palette's source, how each level was made and whose
/// alpha it has. What the user may not expect is warned of on standard
/// error after it: a texture of another size than the image, pixels that
/// come out see-through unseen, a reduction poor enough to show.
void print_summary(const TextureFiles& files, const ImageFile& image, const Match& m);
