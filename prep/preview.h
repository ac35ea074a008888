#pragma once

#include <string>

#include "formats/bytes.h"
#include "prep/prep_work.h"

/// The marks of the "changed" picture: a pixel the user painted another
/// colour, one skinprep moved where the user did not paint, one that became
/// see-through, one that became opaque, one whose alpha changed otherwise.
/// Unchanged pixels show dimmed, in values between 64 and 127, which no mark
/// has.
inline constexpr Rgba kChangedColour = {255, 0, 255, 255};
inline constexpr Rgba kMovedColour = {255, 128, 0, 255};
inline constexpr Rgba kBecameClear = {0, 255, 255, 255};
inline constexpr Rgba kBecameOpaque = {255, 255, 0, 255};
inline constexpr Rgba kAlphaChanged = {0, 0, 255, 255};

/// Writes the preview page of a prepared texture: one HTML file holding
/// everything it shows, so that it opens from disk with no network and no
/// other file. Its pictures are PNG images in data URLs, each an <img> with
/// a data-panel attribute naming it ("before", "after", "changed",
/// "medium", "low", "palette"), at 1:1 in RGBA, top row first; the page
/// scales them and shows their alpha over a checkerboard. The texture being
/// replaced gives "before" and "changed", where there is one. summary is the
/// text the console shows. False only when libpng fails.
bool write_preview(ByteBuffer& out, const Match& m, const std::string& title,
                   const std::string& summary);
