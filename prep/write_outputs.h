#pragma once

#include <functional>
#include <string>

#include "formats/bytes.h"
#include "prep/prep_work.h"
#include "shell/texture_path.h"

/// Makes the preview page's bytes at the end of the buffer; false when that fails.
using PageWriter = std::function<bool(ByteBuffer&)>;

/// Writes the image directory skinweld reads: creates and enters it, then
/// writes the palette file and the three levels the match made, as skinsplit
/// writes a sub-type 1 image, the palette's colours as the colour map, the
/// memory of this prepare, and the preview page write_page makes. A file of
/// the set edited by hand since skinprep wrote it is kept as NAME~N first
/// (the page is only ever replaced). Each failure is reported; the first one
/// ends it.
bool write_image_directory(const TextureFiles& files, const ImageFile& image, const Match& m,
                           const PageWriter& write_page);
