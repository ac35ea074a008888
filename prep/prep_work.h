#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/colour.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "shell/edited_image.h"
#include "shell/prep_memory.h"

// The records skinprep's steps share: what was read, what was decided once,
// and what was made. A step takes the match and whatever is its own.

/// The texture being replaced: whether it can serve as reference, and if
/// not, why.
struct OldTexture {
  std::string name;    ///< the TEX file's
  bool found = false;  ///< there is a TEX file of that name
  bool usable = false;
  TexSubtype subtype = TexSubtype::indexed;
  std::string left_aside;   ///< why a texture that exists is not used
  bool other_size = false;  ///< it was left aside for a size other than the image's
  unsigned x = 0;           ///< its size, when other_size
  unsigned y = 0;
  const TexPalette* palette = nullptr;    ///< when usable
  const TexLevels* levels = nullptr;      ///< when usable
  std::optional<std::uint32_t> checksum;  ///< of the whole file, when found
  TexTail tail = kTexDefaultTail;         ///< the header bytes 4 to 13 skinweld keeps of it
};

/// Where the palette of the result comes from.
enum class PaletteSource { palette_file, texture, image };

/// The palette file beside the image (tga/NAME.pal), as found.
struct PaletteFile {
  bool found = false;
  TexPalette palette{};
  std::optional<std::uint32_t> checksum;  ///< of its bytes, for the memory
  bool newer_than_texture = false;
};

/// What became of a palette file that differs from the texture's palette.
/// It is a recolouring while it changes: when it differs from the one the
/// last prepare saw, or, without a memory, when it is newer than the
/// texture. Else it is the palette of an earlier texture, and left aside.
enum class PaletteFileUse {
  taken,               ///< a recolouring, or no texture to hold it against
  left_aside_as_seen,  ///< the same file the last prepare saw
  left_aside_older,    ///< older than the texture, without a memory
};

/// What became of the memory of the last prepare (NAME/NAME_source.png):
/// it serves where the texture was welded from the set it describes.
enum class MemoryUse {
  absent,
  unreadable,
  earlier_version,
  other_size,
  no_texture,
  not_welded,
  used
};

/// Whether the memory says what skinprep wrote last (whether or not it
/// serves to tell which pixels changed).
inline bool memory_read(MemoryUse use) {
  return use != MemoryUse::absent && use != MemoryUse::unreadable &&
         use != MemoryUse::earlier_version;
}

/// The palette the result uses. Entries hold their bytes as the TEX file
/// does; expanded says they show as sub-type 14 shows them (bytes 0, 1, 2, 3
/// are red, green, blue, alpha) rather than as sub-type 1 (2, 1, 0, 3).
struct PaletteSetting {
  TexPalette palette{};     ///< the palette to keep; new colours are added to it
  bool from_image = false;  ///< no palette to keep: it is made from the image
  bool expanded = false;
};

/// Whose alpha the result has.
enum class AlphaSource {
  texture,               ///< the image has none: the texture's entry at each place, or opaque
  image,                 ///< the image's own
  texture_where_opaque,  ///< added by a paint program: the texture's where the image is opaque
};

/// What the user asked of the palette when the new colours do not fit.
enum class PalettePolicy {
  choose,  ///< keep or remake as much of it as gives the least weighted error
  keep,    ///< never remake it: new colours take their nearest entries
  remake,  ///< reduce the whole picture afresh, as for a total repaint
};

/// The policy as the memory keeps it, one word.
inline const char* policy_word(PalettePolicy policy) {
  switch (policy) {
    case PalettePolicy::keep:
      return "keep";
    case PalettePolicy::remake:
      return "remake";
    case PalettePolicy::choose:
      break;
  }
  return "choose";
}

/// How the new colours were fitted when they did not fit into free entries.
enum class Fitting {
  kept,    ///< the palette kept whole: new colours took their nearest entries
  exact,   ///< the edit's most used colours took entries given up for them
  remade,  ///< libimagequant remade the entries not held fixed
};

/// What a reduction of the colours did, for the summary.
struct Reduction {
  unsigned long image_colours = 0;  ///< distinct colours the pixels asked for, alpha included
  Fitting fitting = Fitting::remade;
  unsigned long remade_entries = 0;  ///< entries that hold another colour now
  unsigned long exact_pixels = 0;    ///< pixels whose colour the new palette holds exactly
  unsigned long dithered_pixels = 0;
  unsigned long untouched_changed = 0;  ///< untouched pixels that show another colour now
  double mean_square_error = 0;         ///< of the high level against the picture, per channel
};

/// What the summary tells the user (as unsigned long, which every printf prints).
struct MatchCounts {
  unsigned long kept = 0;     ///< high-level pixels that kept their index
  unsigned long indexed = 0;  ///< that took the image's own index, another than the texture's
  unsigned long matched = 0;  ///< found by colour in the palette
  unsigned long took_texture_alpha = 0;  ///< painted pixels that took the texture's alpha
  unsigned long fresh_pixels = 0;
  unsigned long fresh_colours = 0;
  EntrySet entries_taken{};                            ///< by new colours
  std::array<unsigned long, kTexLevelCount> reused{};  ///< lower-level pixels, by level
  std::array<unsigned long, kTexLevelCount> made{};
  unsigned long free_entries = 0;  ///< for the new colours
  bool reduced = false;            ///< the new colours did not fit: the palette was made anew
  Reduction reduction;
  unsigned long holes = 0;  ///< opaque in the texture, translucent now, unseen
  EntrySet hole_entries{};  ///< the entries those pixels use
  /// Pixels the user changed since the last prepare: neither what they
  /// asked for then nor what the texture shows.
  unsigned long changed_since = 0;
};

/// The warnings a prepare gives that hold as long as nothing changes, for
/// the memory to repeat them when the set is up to date.
struct LastingWarnings {
  std::vector<std::string> of_set;      ///< of the set against the image
  std::vector<std::string> of_texture;  ///< against the TEX file read, until it is welded
};

/// Per-pixel storage the matching needs, kept with the rest of the fixed
/// work area.
struct MatchScratch {
  std::array<bool, kTexMaxPixels> fresh;          ///< the pixel has a new colour
  std::array<bool, kTexMaxPixels> untouched;      ///< it kept the texture's colour (or memory's)
  std::array<std::uint32_t, kTexMaxPixels> keys;  ///< new colours, to count them
  std::array<Rgba, kTexMaxPixels> wanted;         ///< each pixel's colour with its alpha
  std::array<Rgba, kTexMaxPixels / 4> sample;
  std::array<unsigned char, kTexMaxPixels / 4> sample_importance;  ///< how much each counts
  std::array<unsigned char, kTexMaxPixels> remapped;               ///< libimagequant's indices
};

/// One texture's matching: the image and the texture it replaces, the
/// decisions taken once, and the levels made.
struct Match {
  EditedImage image;
  OldTexture old;
  PrepMemory memory;
  MemoryUse memory_use = MemoryUse::absent;
  PaletteSource source = PaletteSource::image;
  PaletteFileUse palette_file_use = PaletteFileUse::taken;
  std::optional<std::uint32_t> palette_file_seen;  ///< its checksum, for the next prepare
  std::uint32_t image_seen = 0;    ///< the image file's checksum, for the next prepare
  std::uint32_t picture_seen = 0;  ///< its picture's (see picture_checksum)
  PaletteSetting setting;
  PalettePolicy policy = PalettePolicy::choose;
  bool by_index = false;  ///< the image's colour map is the palette: its indices are taken
  AlphaSource alpha = AlphaSource::texture;
  TexLevels* result = nullptr;
  MatchScratch* scratch = nullptr;
  /// By level and entry, the pixels that keep their colour and use it.
  std::array<std::array<std::size_t, kTexPaletteEntries>, kTexLevelCount> users{};
  /// The palette before it was made anew, when it was.
  TexPalette before{};
  MatchCounts counts;
  LastingWarnings warnings;  ///< what the summary warned of
};

/// The pixels that keep their colour and use entry n, at any level, a
/// lower-level pixel counted as the high-level pixels it stands for.
inline std::size_t users_of(const Match& m, std::size_t n) {
  std::size_t users = 0;
  for (std::size_t level = 0; level < kTexLevelCount; ++level)
    users += m.users[level][n] * tex_level_scale(level) * tex_level_scale(level);
  return users;
}

/// The colours every pixel asks for, in the TEX file's pixel order.
inline std::span<const Rgba> wanted_colours(const Match& m) {
  return std::span(m.scratch->wanted).first(m.image.colours.size());
}

/// Whether an entry of the palette being kept is see-through.
inline bool see_through(const Match& m, std::size_t entry) {
  return tex_entry_colour(m.setting.palette[entry], m.setting.expanded)[3] == 0;
}
