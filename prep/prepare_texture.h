#pragma once

#include "files/start_directory.h"

/// Makes the image directory that skinweld reads from one edited image. The
/// argument names the texture as skinsplit takes it ("car1.tex", "car1",
/// "C:\skins\car1.tex"); its directory is entered, and from there the edited
/// image tga/NAME.tga is read with, where they exist, the palette file
/// tga/NAME.pal and the texture NAME.tex. Writes NAME/NAME.pal and the three
/// levels NAME/NAME_h.tga, NAME_m.tga and NAME_l.tga, keeping the palette and
/// every index the edit did not change. Returns whether all four were written.
bool prepare_texture(char* argument, const StartDirectory& start);
