#pragma once

#include "prep/prep_work.h"
#include "shell/texture_path.h"
#include "shell/texture_sets.h"

/// Whether the set of the last prepare is what a prepare would make now,
/// told by checksums alone, without decoding a picture: the image, the
/// palette file beside it, the TEX file (the one the last prepare read, or
/// the one skinweld welds from the set) and the palette option are what the
/// last prepare took, and the set, the memory and the page are what it
/// wrote. When it is, the warnings that still hold are given again
/// (lock holds the names in tga/ and the image directory).
bool set_is_up_to_date(const TextureFiles& files, const ImageFile& image, PalettePolicy policy,
                       const LockedTexture& lock);
