#pragma once

#include "prep/prep_work.h"
#include "shell/driver.h"

/// Makes the image directory that skinweld reads from one edited image. The
/// argument names the texture as skinsplit takes it ("car1.tex", "car1",
/// "C:\skins\car1.tex"); its directory is entered, and from there the edited
/// image (tga/NAME.tga or tga/NAME.png) is read with, where they exist, the
/// palette file tga/NAME.pal and the texture NAME.tex. Writes NAME/NAME.pal
/// and the three levels NAME/NAME_h.tga, NAME_m.tga and NAME_l.tga, keeping
/// the palette and every index the edit did not change. Returns whether all
/// four were written.
bool prepare_texture(const char* argument, const ToolRun& run);

/// skinprep's options, as flags of ToolRun::options: what to do with the
/// palette when the new colours do not fit.
inline constexpr unsigned kKeepPalette = 1U << 0;  ///< --keep-palette
inline constexpr unsigned kNewPalette = 1U << 1;   ///< --new-palette
