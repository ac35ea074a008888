#include "prep/summary.h"

#include <array>
#include <string>

#include "shell/report.h"
#include "shell/steps.h"

namespace {

/// Below this quality (libimagequant's 0 to 100) a reduction of the colours
/// is worth a warning: from about here a user sees banding and noise.
constexpr int kPoorQuality = 70;

/// "17, 20-23, 200": the entries new colours took, runs shortened.
std::string list_entries(const std::array<bool, 256>& taken) {
  std::string text;
  for (unsigned n = 0; n < 256; ++n) {
    if (!taken[n]) continue;
    unsigned last = n;
    while (last + 1 < 256 && taken[last + 1])
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

void print_palette_source(const TextureFiles& files, PaletteSource source) {
  switch (source) {
    case PaletteSource::palette_file:
      print_progress("Palette: from %s\n", files.edited_palette.c_str());
      break;
    case PaletteSource::texture:
      print_progress("Palette: from %s\n", files.tex.c_str());
      break;
    case PaletteSource::image:
      print_progress("Palette: made from the image (no palette file and no texture)\n");
      break;
  }
}

void print_high_level(const MatchCounts& counts) {
  if (counts.reduced) {
    const Reduction& r = counts.reduction;
    print_progress(
        "High level: %lu colours, %lu of them new, more than the %lu free entries hold: "
        "palette made anew by libimagequant with %lu entries held fixed, %lu entries kept "
        "their place; %lu pixels have exactly their colour, %lu dithered; mean square error "
        "%.2f, quality %d of 100",
        r.image_colours, counts.fresh_colours, counts.free_entries, r.fixed_entries, r.kept_places,
        r.exact_pixels, r.dithered_pixels, r.mean_square_error, r.quality);
    return;
  }
  print_progress("High level: %lu pixels kept their index, %lu matched by colour, ", counts.kept,
                 counts.matched);
  if (counts.fresh_colours == 0) {
    print_progress("no new colour");
  } else {
    print_progress("%lu took %lu new colours (entries %s)", counts.fresh_pixels,
                   counts.fresh_colours, list_entries(counts.entries_taken).c_str());
  }
}

void print_alpha(AlphaSource alpha) {
  switch (alpha) {
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
}

}  // namespace

void print_summary(const TextureFiles& files, const ImageFile& image, const Match& m) {
  const MatchCounts& counts = m.counts;
  if (image.left_aside.empty()) {
    print_progress("Image: %s\n", image.name.c_str());
  } else {
    print_progress("Image: %s (%s is older and was left aside)\n", image.name.c_str(),
                   image.left_aside.c_str());
  }
  print_reference(files, m.old);
  print_palette_source(files, m.source);
  print_high_level(counts);
  print_progress("\nMedium level: %lu pixels reused, %lu made\n", counts.reused[1], counts.made[1]);
  print_progress("Low level: %lu pixels reused, %lu made\n", counts.reused[2], counts.made[2]);
  print_alpha(m.alpha);
  if (m.old.other_size) {
    warn_of_new_size(files.tex, m.old.x, m.old.y, static_cast<unsigned>(image.width),
                     static_cast<unsigned>(image.height));
  }
  if (counts.holes > 0) {
    print_error(
        "WARNING! %lu pixels that are opaque in %s come out see-through (entries %s); the "
        "image has no alpha to show them.\n",
        counts.holes, files.tex.c_str(), list_entries(counts.hole_entries).c_str());
  }
  if (counts.reduced && counts.reduction.quality < kPoorQuality) {
    print_error(
        "WARNING! The colours of %s were reduced with quality %d of 100; the "
        "texture will look visibly different from the image.\n",
        image.name.c_str(), counts.reduction.quality);
  }
}
