#include "prep/match/matching.h"
#include "prep/prep_work.h"

#include <algorithm>
#include <vector>

#include "prep/colours.h"

namespace {

/// Whether every entry the colour map holds has the palette's colour at the
/// same index (red, green and blue; alpha too when the image has alpha of its
/// own): then the image's indices mean the palette's entries.
bool map_is_palette(const ColourMap& map, const Palette& palette, bool with_alpha) {
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n) {
    if (!map.present[n]) continue;
    if (with_alpha ? pack_colour(map.colour[n]) != pack_colour(palette[n])
                   : pack_rgb(map.colour[n]) != pack_rgb(palette[n]))
      return false;
  }
  return true;
}

/// Whose alpha the pixels take when they are taken by colour. A paint
/// program that adds an alpha channel (saving as RGBA) gives every pixel
/// alpha 255; a translucent logo pasted on top then makes the image "have
/// alpha" without the palette's. That shows where pixels kept the texture's
/// colour at its place: where that colour is translucent in the texture and
/// every such pixel is opaque here, the alpha was added. Without any such
/// pixel (a picture painted anew) there is nothing to tell by, and the
/// image's alpha stands.
AlphaSource choose_alpha(const Match& m, const Palette& colours) {
  if (!m.image.has_alpha) return AlphaSource::texture;
  if (!m.old.usable) return AlphaSource::image;
  bool witnessed = false;
  for (std::size_t k = 0; k < m.image.colours.size(); ++k) {
    const Rgba& was = colours[m.old.levels->high[k]];
    const Rgba& is = m.image.colours[k];
    if (was[3] == 255 || pack_rgb(was) != pack_rgb(is)) continue;
    if (is[3] != 255) return AlphaSource::image;
    witnessed = true;
  }
  return witnessed ? AlphaSource::texture_where_opaque : AlphaSource::image;
}

/// Whether pixel k takes the alpha of the texture's entry at its place: the
/// image has none of its own there (see AlphaSource).
bool takes_texture_alpha(const Match& m, std::size_t k) {
  return m.alpha == AlphaSource::texture ||
         (m.alpha == AlphaSource::texture_where_opaque && m.image.colours[k][3] == 255);
}

/// The colour a pixel asks for: with the alpha of the texture's entry at the
/// same place where the texture's alpha counts (opaque without a texture).
Rgba wanted_colour(const Match& m, const Palette& colours, std::size_t k) {
  Rgba c = m.image.colours[k];
  if (takes_texture_alpha(m, k)) c[3] = m.old.usable ? colours[m.old.levels->high[k]][3] : 255;
  return c;
}

/// Whether pixel k asks for what it asked for in the last prepare, where
/// its memory serves.
bool as_last_prepared(const Match& m, const Rgba& wanted, std::size_t k) {
  return m.memory_use == MemoryUse::used && same_as_remembered(m.memory, wanted, k);
}

/// Counts what pixel k tells the summary: whether the user changed it since
/// the last prepare (it is neither as then nor as the texture shows), and
/// whether it was painted where it took the texture's alpha, see-through or
/// translucent there.
void count_pixel(Match& m, const Palette& colours, std::size_t k, bool untouched) {
  const Rgba& wanted = m.scratch->wanted[k];
  if (m.memory_use == MemoryUse::used && !untouched && !as_last_prepared(m, wanted, k))
    ++m.counts.changed_since;
  if (!m.old.usable || !takes_texture_alpha(m, k)) return;
  const Rgba& was = colours[m.old.levels->high[k]];
  if (was[3] != 255 && pack_rgb(was) != pack_rgb(m.image.colours[k])) ++m.counts.took_texture_alpha;
}

/// Takes every pixel by its own index: the image's colour map is the palette,
/// whose colours the pixels then ask for.
void take_indices(Match& m, const Palette& colours) {
  const std::span<const unsigned char> indices = m.image.indices;
  std::copy(indices.begin(), indices.end(), m.result->high.begin());
  std::fill_n(m.scratch->fresh.begin(), indices.size(), false);
  for (std::size_t k = 0; k < indices.size(); ++k) {
    m.scratch->wanted[k] = colours[indices[k]];
    const bool untouched = m.old.usable && indices[k] == m.old.levels->high[k];
    m.scratch->untouched[k] = untouched;
    ++(untouched || !m.old.usable ? m.counts.kept : m.counts.indexed);
    if (m.memory_use == MemoryUse::used && !untouched &&
        !as_last_prepared(m, m.scratch->wanted[k], k))
      ++m.counts.changed_since;
  }
}

/// Takes every pixel by its colour (colours: the palette's). Returns how
/// many pixels have new colours; their colours are gathered in the scratch.
std::size_t take_colours(Match& m, const Palette& colours) {
  MatchScratch& scratch = *m.scratch;
  // Without alpha of the image's own or the texture's, only red, green and blue can be compared.
  const bool rgb_only = !m.image.has_alpha && !m.old.usable;
  const auto key_of = [rgb_only](const Rgba& c) { return rgb_only ? pack_rgb(c) : pack_colour(c); };
  ColourIndex lowest;
  if (!m.setting.from_image) {
    for (std::size_t n = 0; n < kTexPaletteEntries; ++n)
      lowest.add(key_of(colours[n]), static_cast<int>(n));
  }
  std::size_t fresh = 0;
  for (std::size_t k = 0; k < m.image.colours.size(); ++k) {
    const Rgba c = wanted_colour(m, colours, k);
    scratch.fresh[k] = false;
    scratch.untouched[k] = false;
    scratch.wanted[k] = c;
    // A pixel as the last prepare left it keeps the texture's index even
    // where that shows another colour: it was dithered or matched then.
    const bool as_texture = m.old.usable && shows_the_same(colours[m.old.levels->high[k]], c);
    count_pixel(m, colours, k, as_texture);
    if (m.old.usable && (as_texture || as_last_prepared(m, c, k))) {
      m.result->high[k] = m.old.levels->high[k];
      scratch.untouched[k] = true;
      ++m.counts.kept;
    } else if (const int found = lowest.find(key_of(c)); found >= 0) {
      m.result->high[k] = static_cast<unsigned char>(found);
      scratch.wanted[k] = colours[static_cast<std::size_t>(found)];  // its alpha, matched without
      ++m.counts.matched;
    } else {
      scratch.fresh[k] = true;
      scratch.keys[fresh++] = pack_colour(c);
    }
  }
  return fresh;
}

}  // namespace

void choose_how_pixels_are_taken(Match& m) {
  if (m.setting.from_image) m.setting.palette.fill({0, 0, 0, 0});
  const Palette colours = colours_of(m.setting.palette, m.setting.expanded);
  const bool alpha = m.image.has_alpha;
  const ColourMap* map = m.image.map;
  m.by_index = map != nullptr &&
               ((!m.setting.from_image && map_is_palette(*map, colours, alpha)) ||
                (m.old.usable &&
                 map_is_palette(*map, colours_of(*m.old.palette, m.setting.expanded), alpha)));
  if (m.by_index) {
    m.alpha = alpha ? AlphaSource::image : AlphaSource::texture;
  } else {
    m.alpha = choose_alpha(m, colours);
  }
}

void take_high_level(Match& m) {
  const Palette colours = colours_of(m.setting.palette, m.setting.expanded);
  if (m.by_index) {
    take_indices(m, colours);
    return;
  }
  const std::size_t fresh = take_colours(m, colours);
  m.counts.fresh_pixels = fresh;
  m.counts.fresh_colours = fresh > 0 ? count_distinct(std::span(m.scratch->keys).first(fresh)) : 0;
}

void count_high_users(Match& m) {
  for (std::size_t k = 0; k < m.image.colours.size(); ++k) {
    if (!m.scratch->fresh[k]) ++m.users[0][m.result->high[k]];
  }
}

void place_new_colours(Match& m) {
  std::vector<unsigned char> free;
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n) {
    if (users_of(m, n) == 0) free.push_back(static_cast<unsigned char>(n));
  }
  ColourIndex placed;
  std::size_t next = 0;
  for (std::size_t k = 0; k < m.image.colours.size(); ++k) {
    if (!m.scratch->fresh[k]) continue;
    const Rgba& c = m.scratch->wanted[k];
    int index = placed.find(pack_colour(c));
    if (index < 0) {
      index = free[next++];
      placed.add(pack_colour(c), index);
      m.setting.palette[static_cast<std::size_t>(index)] = tex_colour_entry(c, m.setting.expanded);
      m.counts.entries_taken[static_cast<std::size_t>(index)] = true;
    }
    m.result->high[k] = static_cast<unsigned char>(index);
  }
}

void count_holes(Match& m) {
  if (m.image.has_alpha || !m.old.usable) return;
  const Palette was = colours_of(*m.old.palette, m.setting.expanded);
  const Palette is = colours_of(m.setting.palette, m.setting.expanded);
  for (std::size_t k = 0; k < m.image.colours.size(); ++k) {
    const unsigned char entry = m.result->high[k];
    if (was[m.old.levels->high[k]][3] != 255 || is[entry][3] == 255) continue;
    ++m.counts.holes;
    m.counts.hole_entries[entry] = true;
  }
}
