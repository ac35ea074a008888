#include "prep/prepare_texture.h"

#include "files/texture_lock.h"
#include "prep/colour_match.h"
#include "prep/read_inputs.h"
#include "prep/summary.h"
#include "prep/write_outputs.h"
#include "shell/report.h"
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

}  // namespace

// The driver hands every tool's procedure the writable argument; this one only reads it.
bool prepare_texture(char* argument,  // NOLINT(readability-non-const-parameter)
                     const StartDirectory& /*start*/) {
  const TextureName name = read_texture_name(argument, NameRule::prep);
  if (!enter_texture_directory(name.path)) return false;
  // From here on every file is named relative to the texture's directory.
  const TextureFiles& files = name.files;
  const TextureLock lock("");

  ImageFile image;
  EditedImage edited;
  Reference ref;
  TexPalette file_palette{};
  bool palette_found = false;
  if (!read_edited_image(files, work.inputs, image, edited)) return false;
  if (!read_reference(files.tex, edited, work.inputs, ref)) return false;
  if (!read_palette_file(files.edited_palette, palette_found, file_palette)) return false;

  const PaletteSource source = palette_found ? PaletteSource::palette_file
                               : ref.usable  ? PaletteSource::texture
                                             : PaletteSource::image;
  PaletteSetting setting;
  setting.palette = palette_found ? file_palette : work.inputs.texture_palette;
  setting.from_image = source == PaletteSource::image;
  setting.expanded = ref.usable && ref.subtype == TexSubtype::indexed_expanded;
  const OldTexture old = {ref.usable, &work.inputs.texture_palette, &work.inputs.texture_levels};

  MatchCounts counts;
  print_progress("Matching colours...");
  if (match_colours(edited, old, setting, work.result, counts, work.scratch) ==
      MatchResult::reduction_failed) {
    print_error("\nERROR! Could not reduce the colours: %lu new, %lu palette entries free!\n",
                counts.fresh_colours, counts.free_entries);
    return false;
  }
  print_progress("done!\n");
  if (!write_image_directory(files, edited.width, edited.height, work.result, setting.palette))
    return false;
  print_summary(files, image, source, ref, counts);
  return true;
}
