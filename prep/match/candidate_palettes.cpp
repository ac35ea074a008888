#include "prep/match/colour_search.h"
#include "prep/prep_work.h"

#include <algorithm>
#include <utility>

#include "prep/colours.h"
#include "prep/match/quantizer.h"
#include "prep/match/tuning.h"

namespace {

/// The entries held fixed, and each of their colours once (libimagequant
/// takes every see-through colour as one).
struct FixedEntries {
  EntrySet entries{};
  std::vector<Rgba> colours;
};

/// The first count ranked entries, held fixed.
FixedEntries fixed_entries(const ColourSearch& s, std::size_t count) {
  const Match& m = s.m;
  FixedEntries fixed;
  std::vector<Rgba>& colours = fixed.colours;
  for (std::size_t rank = 0; rank < count; ++rank) {
    fixed.entries[s.ranked[rank]] = true;
    Rgba colour = tex_entry_colour(m.setting.palette[s.ranked[rank]], m.setting.expanded);
    if (colour[3] == 0) colour = {0, 0, 0, 0};
    if (std::find(colours.begin(), colours.end(), colour) == colours.end())
      colours.push_back(colour);
  }
  return fixed;
}

/// What libimagequant is asked for: the pixels to make the colours from,
/// how many it may make, and on the final pass where the indices go.
QuantizeRequest palette_request(ColourSearch& s, std::size_t count, Pass pass,
                                const FixedEntries& fixed) {
  const std::span<const Rgba> colours = fixed.colours;
  Match& m = s.m;
  const bool anew = count == s.held;
  const bool trial = pass == Pass::trial;
  QuantizeRequest request = !anew   ? edit_pixels(s, fixed.entries, colours, pass)
                            : trial ? sampled_picture(m)
                                    : whole_picture(m);
  request.speed = trial ? kTrialSpeed : kFinalSpeed;
  if (!anew && trial && kTexPaletteEntries - count >= 2) {
    // A palette only compared is made without the fixed colours, with room
    // for the rest: the median cut does not use them, and its refinement
    // only a little, while libimagequant works out a table of powers for
    // each fixed colour it is given.
    request.max_colours = static_cast<int>(kTexPaletteEntries - count);
  } else {
    request.fixed = colours;
    // Room for every fixed entry, each at its place, however many share a colour.
    request.max_colours = static_cast<int>(kTexPaletteEntries - (count - colours.size()));
  }
  if (trial) return request;
  request.remapped = m.scratch->remapped;
  if (!anew) {
    // Only the edit's pixels take what libimagequant's dithering gives, and
    // it carries no error upward: the rows that hold them are enough.
    std::size_t first = 0;
    request.remap_colours = edited_rows(m, first);
    request.remap_width = m.image.width;
    request.remapped =
        std::span(m.scratch->remapped).subspan(first * m.image.width, request.remap_colours.size());
  }
  return request;
}

/// Gives each of libimagequant's colours that a fixed entry had that entry
/// (see-through ones, which libimagequant gives as 0,0,0,0, one that had
/// any see-through colour).
void place_fixed_colours(const Match& m, const Quantized& made, const EntrySet& fixed,
                         Candidate& c) {
  for (std::size_t j = 0; j < made.palette.size(); ++j) {
    const Rgba& colour = made.palette[j];
    for (std::size_t n = 0; n < kTexPaletteEntries; ++n) {
      const Rgba had = tex_entry_colour(m.setting.palette[n], m.setting.expanded);
      const bool same = colour[3] == 0 ? had[3] == 0 : had == colour;
      if (fixed[n] && !c.filled[n] && same) {
        c.entry_of_made[j] = static_cast<int>(n);
        c.filled[n] = true;
        break;
      }
    }
  }
}

/// Puts libimagequant's colours in their entries: a colour that a fixed
/// entry had stays at that entry, and every fixed entry keeps its colour,
/// even one libimagequant merged with another; the others take the entries
/// left, lowest first.
void place_palette(const Match& m, const Quantized& made, const EntrySet& fixed, Candidate& c) {
  c.entry_of_made.fill(-1);
  c.palette.fill({0, 0, 0, 0});
  c.filled = c.kept = EntrySet{};
  place_fixed_colours(m, made, fixed, c);
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n) {
    if (!fixed[n]) continue;
    c.palette[n] = m.setting.palette[n];
    c.filled[n] = c.kept[n] = true;
  }
  std::size_t next = 0;
  for (std::size_t j = 0; j < made.palette.size(); ++j) {
    if (c.entry_of_made[j] >= 0) continue;
    while (next < kTexPaletteEntries && c.filled[next])
      ++next;
    if (next == kTexPaletteEntries) break;
    c.entry_of_made[j] = static_cast<int>(next);
    c.filled[next] = true;
    c.palette[next] = tex_colour_entry(made.palette[j], m.setting.expanded);
    c.kept[next] = c.palette[next] == m.setting.palette[next];
  }
}

}  // namespace

Candidate whole_palette(const Match& m) {
  Candidate c;
  c.palette = m.setting.palette;
  c.filled.fill(true);
  c.kept.fill(true);
  return c;
}

std::vector<Rgba> frequent_new_colours(const Match& m) {
  std::vector<std::uint32_t> keys;
  const std::span<const Rgba> wanted = wanted_colours(m);
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    if (m.scratch->fresh[k]) keys.push_back(pack_colour(wanted[k]));
  }
  std::sort(keys.begin(), keys.end());
  std::vector<std::pair<std::size_t, std::uint32_t>> counted;
  for (std::size_t at = 0; at < keys.size();) {
    std::size_t end = at;
    while (end < keys.size() && keys[end] == keys[at])
      ++end;
    counted.emplace_back(end - at, keys[at]);
    at = end;
  }
  std::stable_sort(counted.begin(), counted.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<Rgba> colours;
  colours.reserve(counted.size());
  for (const auto& [count, key] : counted)
    colours.push_back(unpack_colour(key));
  return colours;
}

Candidate exact_colours(const ColourSearch& s, std::size_t given_up,
                        const std::vector<Rgba>& frequent) {
  const Match& m = s.m;
  const std::vector<unsigned char>& ranked = s.ranked;
  Candidate c = whole_palette(m);
  c.kind = Kind::exact;
  c.fixed = ranked.size() - given_up;
  EntrySet room{};
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n)
    room[n] = users_of(m, n) == 0;
  for (std::size_t rank = ranked.size() - given_up; rank < ranked.size(); ++rank)
    room[ranked[rank]] = true;
  std::size_t next = 0;
  for (std::size_t n = 0; n < kTexPaletteEntries && next < frequent.size(); ++n) {
    if (!room[n]) continue;
    c.palette[n] = tex_colour_entry(frequent[next++], m.setting.expanded);
    c.kept[n] = c.palette[n] == m.setting.palette[n];
  }
  for (std::size_t rank = ranked.size() - given_up; rank < ranked.size(); ++rank)
    c.kept[ranked[rank]] = false;  // its pixels move, to their nearest colour
  return c;
}

bool remade_palette(ColourSearch& s, std::size_t count, Pass pass, Candidate& c) {
  const FixedEntries fixed = fixed_entries(s, count);
  const QuantizeRequest request = palette_request(s, count, pass, fixed);
  Quantized made;
  if (!quantize(request, made)) return false;
  c.kind = count == s.held ? Kind::anew : Kind::remade;
  c.fixed = count;
  place_palette(s.m, made, fixed.entries, c);
  return true;
}
