#include "prep/summary.h"

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "files/input_file.h"
#include "shell/report.h"
#include "shell/steps.h"

namespace {

/// Above this root mean square error (per channel, 0 to 255) a reduction of
/// the colours is worth a warning: from about here a user sees banding and
/// noise.
constexpr double kPoorError = 8;

/// "1 pixel", "2 pixels": a count and its word, singular or plural.
std::string counted(unsigned long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string pixels(unsigned long count) {
  return counted(count, "pixel", "pixels");
}

std::string colours(unsigned long count) {
  return counted(count, "colour", "colours");
}

std::string entries(unsigned long count) {
  return counted(count, "entry", "entries");
}

std::string free_entries(unsigned long count) {
  return counted(count, "free entry", "free entries");
}

/// "17, 20-23, 200": the entries new colours took, runs shortened.
std::string list_entries(const EntrySet& taken) {
  std::string text;
  for (unsigned n = 0; n < kTexPaletteEntries; ++n) {
    if (!taken[n]) continue;
    unsigned last = n;
    while (last + 1 < kTexPaletteEntries && taken[last + 1])
      ++last;
    if (!text.empty()) text += ", ";
    text += std::to_string(n);
    if (last > n) {
      text += '-';
      text += std::to_string(last);
    }
    n = last;
  }
  return text;
}

void print_image(const ImageFile& image) {
  const char* name = image.name.c_str();
  const char* other = image.left_aside.c_str();
  switch (image.why) {
    case LeftAside::none:
      print_progress("Image: %s\n", name);
      break;
    case LeftAside::older:
      print_progress("Image: %s (%s is older and was left aside)\n", name, other);
      break;
    case LeftAside::as_old:
      print_progress("Image: %s (%s is as old and was left aside)\n", name, other);
      break;
    case LeftAside::named:
      print_progress("Image: %s, as named (%s was left aside)\n", name, other);
      break;
  }
}

void print_reference(const TextureFiles& files, const OldTexture& old) {
  if (old.usable) {
    print_progress("Reference: %s, sub-type %d\n", files.tex.c_str(),
                   static_cast<int>(old.subtype));
  } else if (old.found) {
    print_progress("Reference: none (%s not used: %s)\n", files.tex.c_str(),
                   old.left_aside.c_str());
  } else {
    print_progress("Reference: none (no %s)\n", files.tex.c_str());
  }
}

/// What the last prepare's memory gave: which pixels changed since, or why it
/// was left aside.
void print_memory(const TextureFiles& files, const Match& m) {
  const std::string name = files.image_directory + "/" + files.memory;
  switch (m.memory_use) {
    case MemoryUse::used:
      if (m.counts.changed_since == 0) {
        print_progress("Last prepare: %s, no pixel changed since\n", name.c_str());
      } else {
        print_progress("Last prepare: %s, %lu pixel%s changed since\n", name.c_str(),
                       m.counts.changed_since, m.counts.changed_since == 1 ? "" : "s");
      }
      return;
    case MemoryUse::absent:
      print_progress("Last prepare: none (no %s)\n", name.c_str());
      return;
    case MemoryUse::unreadable:
      print_progress("Last prepare: none (%s not used: it cannot be read)\n", name.c_str());
      return;
    case MemoryUse::earlier_version:
      print_progress("Last prepare: none (%s not used: an earlier version wrote it)\n",
                     name.c_str());
      return;
    case MemoryUse::other_size:
      print_progress("Last prepare: none (%s not used: another size, %lux%lu)\n", name.c_str(),
                     static_cast<unsigned long>(m.memory.width),
                     static_cast<unsigned long>(m.memory.height));
      return;
    case MemoryUse::no_texture:
      print_progress("Last prepare: none (%s not used: no texture to keep)\n", name.c_str());
      return;
    case MemoryUse::not_welded:
      print_progress("Last prepare: none (%s not used: %s was not welded from it)\n", name.c_str(),
                     files.tex.c_str());
      return;
  }
}

void print_palette_source(const TextureFiles& files, const Match& m) {
  switch (m.source) {
    case PaletteSource::palette_file:
      print_progress("Palette: from %s\n", files.edited_palette.c_str());
      break;
    case PaletteSource::texture:
      if (m.palette_file_use == PaletteFileUse::left_aside_as_seen) {
        print_progress(
            "Palette: from %s (%s, unchanged since the last prepare, is not the texture's "
            "palette any more and was left aside)\n",
            files.tex.c_str(), files.edited_palette.c_str());
      } else if (m.palette_file_use == PaletteFileUse::left_aside_older) {
        print_progress(
            "Palette: from %s (%s is older than it and holds other colours; left aside)\n",
            files.tex.c_str(), files.edited_palette.c_str());
      } else {
        print_progress("Palette: from %s\n", files.tex.c_str());
      }
      break;
    case PaletteSource::image:
      print_progress("Palette: made from the image (no palette file and no texture)\n");
      break;
  }
}

/// "1 untouched pixel changed", "no untouched pixel changed".
std::string untouched_changed(unsigned long count) {
  if (count == 0) return "no untouched pixel changed";
  return std::to_string(count) +
         (count == 1 ? " untouched pixel changed" : " untouched pixels changed");
}

/// How a reduction began: why the palette was made anew.
void print_reduction_cause(const MatchCounts& counts, PalettePolicy policy) {
  const Reduction& r = counts.reduction;
  if (policy == PalettePolicy::remake) {
    print_progress("High level: %s, the palette made afresh as asked; ",
                   colours(r.image_colours).c_str());
  } else if (counts.fresh_colours <= counts.free_entries) {
    print_progress("High level: %s, %lu of them new, kept out of the %s as asked; ",
                   colours(r.image_colours).c_str(), counts.fresh_colours,
                   free_entries(counts.free_entries).c_str());
  } else {
    print_progress("High level: %s, %lu of them new, more than the %s %s; ",
                   colours(r.image_colours).c_str(), counts.fresh_colours,
                   free_entries(counts.free_entries).c_str(),
                   counts.free_entries == 1 ? "holds" : "hold");
  }
}

void print_reduction(const MatchCounts& counts, PalettePolicy policy) {
  const Reduction& r = counts.reduction;
  print_reduction_cause(counts, policy);
  const std::string untouched = untouched_changed(r.untouched_changed);
  switch (r.fitting) {
    case Fitting::kept:
      print_progress("palette kept: %s at their nearest entries, %s dithered, %s",
                     counted(counts.fresh_colours, "new colour", "new colours").c_str(),
                     pixels(r.dithered_pixels).c_str(), untouched.c_str());
      return;
    case Fitting::exact:
      print_progress(
          "%s given to the edit's most used colours: %s exactly their colour, %lu "
          "dithered, %s",
          entries(r.remade_entries).c_str(),
          (pixels(r.exact_pixels) + (r.exact_pixels == 1 ? " has" : " have")).c_str(),
          r.dithered_pixels, untouched.c_str());
      return;
    case Fitting::remade:
      break;
  }
  print_progress(
      "%s remade by libimagequant: %s exactly their colour, %lu dithered, %s; root "
      "mean square error %.2f",
      entries(r.remade_entries).c_str(),
      (pixels(r.exact_pixels) + (r.exact_pixels == 1 ? " has" : " have")).c_str(),
      r.dithered_pixels, untouched.c_str(), std::sqrt(r.mean_square_error));
}

void print_high_level(const MatchCounts& counts, PalettePolicy policy) {
  if (counts.reduced) {
    print_reduction(counts, policy);
    return;
  }
  print_progress("High level: %s kept their index, ", pixels(counts.kept).c_str());
  if (counts.indexed > 0) print_progress("%lu took the image's own index, ", counts.indexed);
  print_progress("%lu matched by colour, ", counts.matched);
  if (counts.fresh_colours == 0) {
    print_progress("no new colour");
  } else {
    print_progress("%lu took %s (%s %s)", counts.fresh_pixels,
                   counted(counts.fresh_colours, "new colour", "new colours").c_str(),
                   counts.fresh_colours == 1 ? "entry" : "entries",
                   list_entries(counts.entries_taken).c_str());
  }
}

/// Of the pixels translucent in the texture replaced, how many come out
/// see-through and how many opaque: partial alpha a program dropped (GIMP's
/// indexed export keeps one see-through entry and no other alpha).
std::array<unsigned long, 2> translucent_dropped(const Match& m) {
  std::array<unsigned long, 2> dropped{};
  if (!m.old.usable) return dropped;
  const auto w = static_cast<unsigned>(m.image.width);
  const auto h = static_cast<unsigned>(m.image.height);
  const std::span<const unsigned char> old = tex_level(*m.old.levels, 0, w, h);
  const std::span<const unsigned char> now = tex_level(*m.result, 0, w, h);
  const bool expanded = tex_is_expanded(m.old.subtype);
  for (std::size_t k = 0; k < old.size(); ++k) {
    const unsigned char was = tex_entry_colour((*m.old.palette)[old[k]], expanded)[3];
    const unsigned char is = tex_entry_colour(m.setting.palette[now[k]], m.setting.expanded)[3];
    if (was == 0 || was == 255 || (is != 0 && is != 255)) continue;
    ++dropped[is == 0 ? 0 : 1];
  }
  return dropped;
}

void print_alpha(const TextureFiles& files, const Match& m) {
  switch (m.alpha) {
    case AlphaSource::texture:  // the image has no alpha: nothing to choose
      break;
    case AlphaSource::image:
      print_progress("Alpha: the image's own\n");
      break;
    case AlphaSource::texture_where_opaque:
      print_progress(
          "Alpha: the texture's where the image is opaque, the image's where it is "
          "translucent (the image's alpha channel was added without the palette's)\n");
      break;
  }
  const std::array<unsigned long, 2> dropped = translucent_dropped(m);
  if (dropped[0] + dropped[1] > 0) {
    print_progress("Translucent in %s: %s come out see-through, %lu opaque (marked on the page)\n",
                   files.tex.c_str(), pixels(dropped[0]).c_str(), dropped[1]);
  }
}

/// Prints a warning on standard error and keeps it in kept, for the memory
/// to repeat.
[[gnu::format(printf, 2, 3)]] void warn(std::vector<std::string>& kept, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::array<char, 1024> line{};
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): va_start is just above
  std::vsnprintf(line.data(), line.size(), format, arguments);
  va_end(arguments);
  print_error("%s", line.data());
  kept.emplace_back(line.data());
}

}  // namespace

void warn_of_unread_pictures(const TextureFiles& files, const ImageFile& image,
                             const LockedTexture& lock) {
  static constexpr const char* kOtherFormats[] = {".bmp", ".tif", ".tiff", ".jpg",  ".jpeg",
                                                  ".gif", ".psd", ".xcf",  ".webp", ".ora"};
  const std::string stem = files.edited_image.substr(0, files.edited_image.size() - 4);
  const std::size_t slash = stem.rfind('/') + 1;
  std::vector<std::string> names;
  for (const char* extension : kOtherFormats)
    names.push_back(stem.substr(slash) + extension);
  std::vector<std::string> places =
      find_each_among(stem.substr(0, slash), names, *lock.split_names);
  for (const std::string& place : find_each_among(
           files.image_directory + "/", {files.split_image, files.split_png}, *lock.prep_names))
    places.push_back(place);
  for (const std::string& place : places) {
    if (!file_exists(place) || compare_modification_times(place, image.name) <= 0) continue;
    print_error(
        "WARNING! %s is newer than %s, but skinprep reads only %s and %s: save the edit "
        "as one of those.\n",
        place.c_str(), image.name.c_str(), files.edited_image.c_str(), files.edited_png.c_str());
  }
}

namespace {

/// The warnings that follow the summary, kept for the memory to repeat.
LastingWarnings print_warnings(const TextureFiles& files, const ImageFile& image, const Match& m,
                               const LockedTexture& lock) {
  const MatchCounts& counts = m.counts;
  LastingWarnings lasting;
  if (m.old.other_size) {
    const std::string line =
        new_size_warning(files.tex, {m.old.x, m.old.y},
                         {static_cast<unsigned>(image.width), static_cast<unsigned>(image.height)});
    warn(lasting.of_texture, "%s", line.c_str());
  }
  if (counts.holes > 0) {
    warn(lasting.of_texture,
         "WARNING! %lu pixels that are opaque in %s come out see-through (entries %s); the "
         "image has no alpha to show them.\n",
         counts.holes, files.tex.c_str(), list_entries(counts.hole_entries).c_str());
  }
  warn_of_unread_pictures(files, image, lock);
  const double error = std::sqrt(counts.reduction.mean_square_error);
  if (counts.reduced && error > kPoorError) {
    warn(lasting.of_set,
         "WARNING! The colours of %s were reduced with a root mean square error of %.1f (0 to "
         "255); the texture will look visibly different from the image.\n",
         image.name.c_str(), error);
  }
  return lasting;
}

}  // namespace

LastingWarnings print_summary(const TextureFiles& files, const ImageFile& image, const Match& m,
                              const LockedTexture& lock) {
  const MatchCounts& counts = m.counts;
  print_image(image);
  print_reference(files, m.old);
  print_memory(files, m);
  print_palette_source(files, m);
  print_high_level(counts, m.policy);
  print_progress("\nMedium level: %s reused, %lu made\n", pixels(counts.reused[1]).c_str(),
                 counts.made[1]);
  print_progress("Low level: %s reused, %lu made\n", pixels(counts.reused[2]).c_str(),
                 counts.made[2]);
  print_alpha(files, m);
  if (counts.took_texture_alpha > 0) {
    print_progress(
        "Alpha: %lu painted pixel%s took the texture's alpha there (see-through or "
        "translucent), the image having none of its own%s\n",
        counts.took_texture_alpha, counts.took_texture_alpha == 1 ? "" : "s",
        m.alpha == AlphaSource::texture_where_opaque ? " where they are opaque" : "");
  }
  if (!m.image.colours.empty())
    print_progress("Preview: %s/%s\n", files.image_directory.c_str(), files.preview.c_str());
  return print_warnings(files, image, m, lock);
}
