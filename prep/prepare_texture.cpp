#include "prep/prepare_texture.h"

#include <algorithm>

#include "files/texture_lock.h"
#include "prep/high_level.h"
#include "prep/lower_levels.h"
#include "prep/read_inputs.h"
#include "prep/reduce_colours.h"
#include "prep/summary.h"
#include "prep/write_outputs.h"
#include "shell/report.h"
#include "shell/steps.h"
#include "shell/texture_path.h"

namespace {

/// The fixed work area: the inputs, the three levels of the result and the
/// per-pixel storage the matching needs.
struct PrepWorkArea {
  InputArea inputs;
  TexLevels result;
  MatchScratch scratch;
};
PrepWorkArea work;

/// Decides once where the palette comes from: the palette file beside the
/// image (a recolouring), else the texture's, else it is made from the image.
void choose_palette(Match& m, const TexPalette& file_palette, bool file_found) {
  m.source = file_found     ? PaletteSource::palette_file
             : m.old.usable ? PaletteSource::texture
                            : PaletteSource::image;
  m.setting.palette = file_found ? file_palette : work.inputs.texture_palette;
  m.setting.from_image = m.source == PaletteSource::image;
  m.setting.expanded = m.old.usable && tex_is_expanded(m.old.subtype);
}

}  // namespace

bool match_colours(Match& m) {
  choose_how_pixels_are_taken(m);
  take_high_level(m);
  // The entries no pixel that keeps its colour uses, at any level, are free.
  count_high_users(m);
  count_reused_entries(m);
  m.counts.free_entries = static_cast<unsigned long>(std::count(m.users.begin(), m.users.end(), 0));
  if (m.counts.fresh_colours <= m.counts.free_entries) {
    place_new_colours(m);
  } else if (!reduce_colours(m)) {
    return false;
  }
  make_lower_levels(m);
  count_holes(m);
  return true;
}

bool prepare_texture(const char* argument, const StartDirectory& /*start*/) {
  const TextureName name = read_texture_name(argument, NameRule::prep);
  if (!enter_texture_directory(name.path)) return false;
  // From here on every file is named relative to the texture's directory.
  const TextureFiles& files = name.files;
  const TextureLock lock("");

  ImageFile image;
  Match m;
  m.result = &work.result;
  m.scratch = &work.scratch;
  TexPalette file_palette{};
  bool palette_found = false;
  if (!read_edited_image(files, work.inputs, image, m.image) ||
      !read_old_texture(files.tex, m.image, work.inputs, m.old) ||
      !read_palette_file(files.edited_palette, false, file_palette, palette_found))
    return false;
  choose_palette(m, file_palette, palette_found);

  print_progress("Matching colours...");
  if (!match_colours(m)) {
    print_error("\nERROR! Could not reduce the colours: %lu new, %lu palette entries free!\n",
                m.counts.fresh_colours, m.counts.free_entries);
    return false;
  }
  print_progress("done!\n");
  if (!write_image_directory(files, m)) return false;
  print_summary(files, image, m);
  return true;
}
