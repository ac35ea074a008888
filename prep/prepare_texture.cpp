#include "prep/prepare_texture.h"

#include <algorithm>
#include <vector>

#include "files/texture_lock.h"
#include "prep/match/matching.h"
#include "prep/preview.h"
#include "prep/read_inputs.h"
#include "prep/summary.h"
#include "prep/up_to_date.h"
#include "prep/write_outputs.h"
#include "shell/outputs.h"
#include "shell/prep_memory.h"
#include "shell/report.h"
#include "shell/steps.h"
#include "shell/texture_path.h"
#include "shell/texture_sets.h"

namespace {

/// The fixed work area: the inputs, the three levels of the result and the
/// per-pixel storage the matching needs.
struct PrepWorkArea {
  InputArea inputs;
  TexLevels result;
  MatchScratch scratch;
};
PrepWorkArea work;

/// Takes every input by the name it has in any case ("CAR5.TEX"), those in
/// tga/ and the image directory among the names the lock step found there.
bool resolve_input_names(TextureName& name, const LockedTexture& lock) {
  const std::vector<std::string>& split_names = *lock.split_names;
  TextureFiles& files = name.files;
  // The edited image is read from tga/, which a link someone else put
  // there must not lead elsewhere.
  LinkVerdict verdict = LinkVerdict::none;
  if (!directory_link_allowed(kSplitDirectory, verdict)) {
    report_link_refused(kSplitDirectory, verdict, true);
    return false;
  }
  if (!resolve_names({&files.tex, &files.image_directory}) ||
      !resolve_names_among(split_names,
                           {&files.edited_image, &files.edited_png, &files.edited_palette}) ||
      (!name.dropped_image.empty() && !resolve_names_among(split_names, {&name.dropped_image})))
    return false;
  // The set's files as they are spelled on disk, so that a texture named in
  // another case ("CAR5.TEX" after "car5") finds its own set, memory and page.
  std::vector<std::string*> members = {&files.level_palette, &files.memory, &files.preview,
                                       &files.prep_record};
  for (std::string& level : files.levels)
    members.push_back(&level);
  for (std::string* member : members) {
    std::string path = files.image_directory + "/" + *member;
    if (!resolve_names_among(*lock.prep_names, {&path})) return false;
    *member = path.substr(files.image_directory.size() + 1);
  }
  return true;
}

/// Whether a palette file that differs from the texture's palette is a
/// recolouring: one that changed since the last prepare saw it, or, without
/// a memory of that, one newer than the texture.
PaletteFileUse judge_palette_file(const Match& m, const PaletteFile& file) {
  if (!m.old.usable || file.palette == *m.old.palette) return PaletteFileUse::taken;
  if (memory_read(m.memory_use)) {
    return file.checksum != m.memory.palette_file ? PaletteFileUse::taken
                                                  : PaletteFileUse::left_aside_as_seen;
  }
  return file.newer_than_texture ? PaletteFileUse::taken : PaletteFileUse::left_aside_older;
}

/// Decides once where the palette comes from: the palette file beside the
/// image where it is a recolouring, else the texture's, else it is made from
/// the image.
void choose_palette(Match& m, const PaletteFile& file) {
  m.palette_file_use = file.found ? judge_palette_file(m, file) : PaletteFileUse::taken;
  const bool from_file = file.found && m.palette_file_use == PaletteFileUse::taken;
  m.source = from_file      ? PaletteSource::palette_file
             : m.old.usable ? PaletteSource::texture
                            : PaletteSource::image;
  m.setting.palette = from_file ? file.palette : work.inputs.texture_palette;
  m.setting.from_image = m.source == PaletteSource::image;
  m.setting.expanded = m.old.usable && tex_is_expanded(m.old.subtype);
}

/// Reads the edited image, the texture, the palette file and the memory of
/// the last prepare, and makes the decisions they settle.
bool read_inputs(const TextureName& name, ImageFile& image, Match& m) {
  const TextureFiles& files = name.files;
  PaletteFile palette_file;
  if (!read_edited_image(work.inputs.image, image, m.image) ||
      !read_old_texture(files.tex, m.image, work.inputs, m.old) ||
      !read_palette_input(files, m.old, palette_file))
    return false;
  read_memory(files, work.inputs, m);
  m.image_seen = file_checksum(image.name).value_or(0);
  m.picture_seen = picture_checksum(m.image);
  choose_palette(m, palette_file);
  m.palette_file_seen = palette_file.checksum;
  return true;
}

}  // namespace

/// The palette policy the run's options ask for (the driver takes one of
/// them at most).
PalettePolicy policy_of(unsigned options) {
  if ((options & kNewPalette) != 0) return PalettePolicy::remake;
  if ((options & kKeepPalette) != 0) return PalettePolicy::keep;
  return PalettePolicy::choose;
}

bool prepare_texture(const char* argument, const ToolRun& run) {
  TextureName name = read_texture_name(argument, ToolKind::prep);
  if (!enter_texture_directory(name.path)) return false;
  // From here on every file is named relative to the texture's directory.
  LockedTexture lock;
  if (!lock_texture(lock, "", name, ToolKind::prep)) return false;

  ImageFile image;
  Match m;
  m.result = &work.result;
  m.scratch = &work.scratch;
  m.policy = policy_of(run.options);
  if (!resolve_input_names(name, lock)) return false;
  choose_image_file(name.files, name.dropped_image, image);
  if (set_is_up_to_date(name.files, image, m.policy, lock)) {
    print_progress("%s: up to date\n", argument);
    return true;
  }
  if (!read_inputs(name, image, m)) return false;
  print_progress("Matching colours...");
  if (!match_colours(m)) {
    print_error("\nERROR! Could not reduce the colours: %lu new, %lu palette entries free!\n",
                m.counts.fresh_colours, m.counts.free_entries);
    return false;
  }
  print_progress("done!\n");
  // The summary goes into the preview page too, so it is made first and
  // shown once the files are in place.
  ConsoleRecord summary;
  m.warnings = print_summary(name.files, image, m, lock);
  summary.stop();
  const std::string title = name.files.image_directory + ": " + image.name;
  const std::string text = summary.text();
  const auto write_page = [&](ByteBuffer& page) { return write_preview(page, m, title, text); };
  if (!write_image_directory(name.files, image, m, write_page)) return false;
  summary.play();
  return true;
}
