#pragma once

#include "prep/prep_work.h"
#include "shell/texture_path.h"
#include "shell/texture_sets.h"

/// Tells the user what skinprep found and did: the image read, the texture
/// it replaces, the palette's source, how each level was made and whose
/// alpha it has. What the user may not expect is warned of on standard
/// error after it: a texture of another size than the image, pixels that
/// come out see-through unseen, a reduction poor enough to show.
/// Gives back the warnings that hold while nothing changes. lock holds
/// the names in tga/ and the image directory.
LastingWarnings print_summary(const TextureFiles& files, const ImageFile& image, const Match& m,
                              const LockedTexture& lock);

/// Warns of a picture saved where or in a format skinprep does not read,
/// when it is newer than the image read: likely the edit, left out.
void warn_of_unread_pictures(const TextureFiles& files, const ImageFile& image,
                             const LockedTexture& lock);
