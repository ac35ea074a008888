#include "prep/preview.h"

#include <array>
#include <cstdio>
#include <optional>
#include <vector>

#include "formats/png.h"
#include "prep/colours.h"
#include "prep/page_style.h"
#include "shell/outputs.h"

namespace {

/// zlib's level for the pictures: the fastest, and small enough for a page.
constexpr int kPreviewCompression = 1;

/// What the page shows of one picture.
struct Panel {
  const char* name = "";
  unsigned width = 0;
  unsigned height = 0;
  std::vector<Rgba> bottom_up;  ///< in the TEX file's pixel order
  /// The id of the <img> that holds the PNG, once on the page: a second
  /// picture of the same pixels refers to it rather than carry it again.
  std::string shown_as;
  /// A level's own entries, written as they are: a quarter of the bytes.
  std::span<const unsigned char> indices;
  Palette entries{};
};

/// An empty panel of that name and size.
Panel panel_of(const char* name, TexSize size) {
  Panel panel;
  panel.name = name;
  panel.width = size.x;
  panel.height = size.y;
  return panel;
}

/// A level's pixels as the colours of their entries.
Panel level_panel(const char* name, std::span<const unsigned char> level, const Palette& shown,
                  TexSize size) {
  Panel panel = panel_of(name, size);
  panel.indices = level;
  panel.entries = shown;
  panel.bottom_up.reserve(level.size());
  for (const unsigned char index : level)
    panel.bottom_up.push_back(shown[index]);
  return panel;
}

/// The kinds of change the "changed" picture marks, in the order of its key.
enum Change : std::size_t { painted, moved, became_clear, became_opaque, alpha_changed, kinds };

/// What the "changed" picture marks each kind with, and how the key names it.
constexpr std::array<std::pair<Rgba, const char*>, kinds> kChangeMarks = {{
    {kChangedColour, "painted another colour"},
    {kMovedColour, "moved by skinprep where you did not paint"},
    {kBecameClear, "became see-through"},
    {kBecameOpaque, "became opaque"},
    {kAlphaChanged, "other change of alpha"},
}};

/// How a pixel changed from was to now; painted says whether the user
/// changed it in this run.
Change change_of(const Rgba& was, const Rgba& now, bool painted_here) {
  if (was[3] != now[3]) {
    return now[3] == 0 ? became_clear : now[3] == 255 ? became_opaque : alpha_changed;
  }
  return painted_here ? painted : moved;
}

/// The high level with each pixel that shows otherwise than before marked
/// by its kind of change (counted in changes), and the others dimmed.
Panel changed_panel(const Panel& before, const Panel& after, const Match& m,
                    std::array<unsigned long, kinds>& changes) {
  Panel panel = panel_of("changed", {after.width, after.height});
  changes = {};
  for (std::size_t k = 0; k < after.bottom_up.size(); ++k) {
    const Rgba& was = before.bottom_up[k];
    const Rgba& now = after.bottom_up[k];
    if (was == now) {
      panel.bottom_up.push_back({static_cast<unsigned char>(64 + now[0] / 4),
                                 static_cast<unsigned char>(64 + now[1] / 4),
                                 static_cast<unsigned char>(64 + now[2] / 4), 255});
      continue;
    }
    const Change change = change_of(was, now, !m.scratch->untouched[k]);
    ++changes[change];
    panel.bottom_up.push_back(kChangeMarks[change].first);
  }
  return panel;
}

void append(ByteBuffer& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

/// Text as HTML shows it, the markup characters escaped.
std::string escaped(const std::string& text) {
  std::string html;
  for (const char c : text) {
    switch (c) {
      case '<':
        html += "&lt;";
        break;
      case '>':
        html += "&gt;";
        break;
      case '&':
        html += "&amp;";
        break;
      case '"':
        html += "&quot;";
        break;
      default:
        html += c;
    }
  }
  return html;
}

std::string base64(const ByteBuffer& bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const std::size_t left = bytes.size() - at;
    const unsigned group = (unsigned{bytes[at]} << 16U) |
                           (left > 1 ? unsigned{bytes[at + 1]} << 8U : 0U) |
                           (left > 2 ? unsigned{bytes[at + 2]} : 0U);
    text += kDigits[(group >> 18U) & 63U];
    text += kDigits[(group >> 12U) & 63U];
    text += left > 1 ? kDigits[(group >> 6U) & 63U] : '=';
    text += left > 2 ? kDigits[group & 63U] : '=';
  }
  return text;
}

/// How an <img> of a panel stands on the page.
enum class Showing {
  named,   ///< carries the panel's name for other programs to find it
  hidden,  ///< the same, hidden until swapped in
  copy,    ///< a second picture of a panel named already
};

/// The panel's pixels as a PNG in base64: a palette PNG where they have at
/// most 256 colours.
bool encode_panel(const Panel& panel, std::string& encoded) {
  PngPicture picture;
  picture.width = panel.width;
  picture.height = panel.height;
  picture.alpha = true;
  picture.bottom_up = panel.bottom_up;
  std::vector<unsigned char> indices;
  std::vector<Rgba> entries;
  if (!panel.indices.empty()) {
    picture.indices_bottom_up = panel.indices;
    picture.palette = panel.entries;
  } else if (as_palette_picture(panel.bottom_up, indices, entries)) {
    picture.indices_bottom_up = indices;
    picture.palette = entries;
  }
  picture.compression = kPreviewCompression;
  ByteBuffer png;
  if (!write_png(png, picture)) return false;
  encoded = base64(png);
  return true;
}

/// An <img> of the panel at 1:1, shown scale times as large with hard edges.
/// The PNG is made once and on the page once, however often the panel is
/// shown: a copy takes its source from the first (see kSwapScript).
bool append_image(ByteBuffer& out, Panel& panel, unsigned scale, Showing showing) {
  if (panel.width == 0 || panel.height == 0) return true;  // no PNG holds no pixels
  std::string encoded;
  if (panel.shown_as.empty() && !encode_panel(panel, encoded)) return false;
  std::array<char, 160> size{};
  std::snprintf(size.data(), size.size(), R"( width="%u" height="%u")", panel.width * scale,
                panel.height * scale);
  const std::string name = panel.name;
  const bool named = showing != Showing::copy;
  const char* extra = showing == Showing::hidden ? R"( class="hidden")" : "";
  append(out, "<img" + (named ? " data-panel=\"" + name + "\"" : std::string()) + size.data() +
                  extra + " alt=\"" + name + "\"");
  if (!panel.shown_as.empty()) {
    append(out, " data-copy-of=\"" + panel.shown_as + "\">");
    return true;
  }
  panel.shown_as = "picture-" + name;
  append(out, " id=\"" + panel.shown_as + "\" src=\"data:image/png;base64,");
  append(out, encoded);
  append(out, "\">");
  return true;
}

/// The 256 entries as a grid, each cell marked by its kind and titled with
/// its index, colour and alpha.
std::string palette_grid(const Match& m, const Palette& shown, const std::optional<Palette>& old,
                         const EntrySet& used) {
  std::string html = "<div class=\"grid\">";
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n) {
    const Rgba& c = shown[n];
    std::string marks;
    if (c[3] == 0) marks += " clear";
    if (c[3] != 0 && c[3] != 255) marks += " translucent";
    if (old && (*old)[n] != c) marks += " changed";
    if (m.counts.entries_taken[n]) marks += " new";
    if (!used[n]) marks += " unused";
    std::array<char, 200> cell{};
    std::snprintf(cell.data(), cell.size(),
                  "<i class=\"e%s\" style=\"background-color:rgba(%u,%u,%u,%.3f)\" "
                  "title=\"%u: %u, %u, %u, alpha %u%s\"></i>",
                  marks.c_str(), c[0], c[1], c[2], c[3] / 255.0, static_cast<unsigned>(n), c[0],
                  c[1], c[2], c[3], marks.c_str());
    html += cell.data();
  }
  return html + "</div>";
}

/// A colour as CSS writes it: three hex digits where each channel's two
/// are the same ("#f0f"), else six.
std::string css_colour(const Rgba& c) {
  const bool short_form = c[0] % 17 == 0 && c[1] % 17 == 0 && c[2] % 17 == 0;
  std::array<char, 8> text{};
  if (short_form) {
    std::snprintf(text.data(), text.size(), "#%x%x%x", c[0] / 17U, c[1] / 17U, c[2] / 17U);
  } else {
    std::snprintf(text.data(), text.size(), "#%02x%02x%02x", c[0], c[1], c[2]);
  }
  return text.data();
}

/// The page as it is made: the match, the pictures shown, and the bytes so far.
struct Page {
  Page(ByteBuffer& bytes, const Match& match) : out(bytes), m(match) {}

  ByteBuffer& out;
  const Match& m;
  unsigned width = 0;
  unsigned height = 0;
  /// How much larger the high level shows: twice, but for a texture larger
  /// than skinsplit reads, whose before and after then fit a window of
  /// 1,280 pixels beside what changed.
  unsigned scale = 2;
  Palette shown{};                   ///< the new palette's colours
  std::optional<Palette> old_shown;  ///< the palette of the texture replaced, if any
  Panel after;
  Panel before;
};

void append_head(Page& page, const std::string& title) {
  append(page.out, std::string(kPreviewStart) + "<title>" + escaped(title) + "</title>\n" +
                       kStyleStart + css_colour(kChangedColour) + kStyleEnd + "\n" + kSwapScript +
                       "\n</head><body>\n");
  append(page.out, "<h1>" + escaped(title) + "</h1>\n");
}

/// The new high level, and the old one to swap with it, where there is one.
bool append_before_and_after(Page& page) {
  const bool with_before = page.old_shown.has_value();
  append(page.out, "<section><h2>" + std::string(with_before ? "Before and after" : "After") +
                       " (" + std::to_string(page.scale) + "x)</h2>\n");
  if (with_before) {
    append(page.out,
           "<button onclick=\"swap()\">Swap before and after (or press S)</button> "
           "Showing: <b id=\"showing\">after</b>\n");
  }
  append(page.out, R"(<div id="swap" class="swap">)");
  if (!append_image(page.out, page.after, page.scale, Showing::named)) return false;
  if (with_before) {
    if (page.before.bottom_up == page.after.bottom_up) page.before.shown_as = page.after.shown_as;
    if (!append_image(page.out, page.before, page.scale, Showing::hidden)) return false;
  }
  append(page.out, "</div></section>\n");
  return true;
}

/// What changed against the texture replaced, marked, with the counts.
bool append_changes(Page& page) {
  std::array<unsigned long, kinds> changes{};
  Panel marked = changed_panel(page.before, page.after, page.m, changes);
  unsigned long changed = 0;
  for (const unsigned long count : changes)
    changed += count;
  unsigned long entries = 0;
  for (std::size_t n = 0; n < kTexPaletteEntries; ++n)
    entries += (*page.old_shown)[n] != page.shown[n] ? 1 : 0;
  append(page.out, "<section><h2>What changed (" + std::to_string(page.scale) + "x)</h2>\n");
  if (!append_image(page.out, marked, page.scale, Showing::named)) return false;
  std::array<char, 80> counts{};
  std::snprintf(counts.data(), counts.size(),
                "<p class=\"key\">%lu pixels changed, %lu palette entries changed", changed,
                entries);
  std::string key = counts.data();
  for (std::size_t kind = 0; kind < kinds; ++kind) {
    key += R"(<br><span><i class="m" style="background:)" + css_colour(kChangeMarks[kind].first) +
           R"("></i> )" + kChangeMarks[kind].second + ": " + std::to_string(changes[kind]) +
           "</span>";
  }
  append(page.out, key + "</p></section>\n");
  return true;
}

/// The medium and low levels at their own size and at the high level's.
bool append_lower_levels(Page& page) {
  append(page.out, "<section><h2>Medium and low, as the game shows them at a distance</h2>\n");
  for (std::size_t n = 1; n < kTexLevelCount; ++n) {
    Panel level = level_panel(n == 1 ? "medium" : "low",
                              tex_level(*page.m.result, n, page.width, page.height), page.shown,
                              tex_level_size(page.width, page.height, n));
    if (level.width == 0 || level.height == 0) continue;
    append(page.out,
           std::string("<p>") + level.name + " at its own size and at the high level's:</p>");
    if (!append_image(page.out, level, 1, Showing::named)) return false;
    append(page.out, "<br>");
    if (!append_image(page.out, level, tex_level_scale(n), Showing::copy)) return false;
  }
  append(page.out, "</section>\n");
  return true;
}

/// The palette as a grid of its entries, and as a picture of them.
bool append_palette(Page& page) {
  EntrySet used{};
  for (std::size_t n = 0; n < kTexLevelCount; ++n) {
    for (const unsigned char index : tex_level(*page.m.result, n, page.width, page.height))
      used[index] = true;
  }
  // The palette picture: entry 0 at the top left, row by row, as the grid.
  Panel palette = panel_of("palette", {16, 16});
  for (std::size_t row = 16; row-- > 0;)
    palette.bottom_up.insert(palette.bottom_up.end(),
                             page.shown.begin() + static_cast<long>(row * 16),
                             page.shown.begin() + static_cast<long>(row * 16 + 16));
  append(page.out, "<section><h2>Palette</h2>\n");
  append(page.out, palette_grid(page.m, page.shown, page.old_shown, used));
  append(page.out,
         "<p class=\"key\">dashed blue: see-through; dotted orange: translucent; "
         "magenta: changed in this run; green: new colour of this run; faint: unused</p>");
  if (!append_image(page.out, palette, 4, Showing::named)) return false;
  append(page.out, "</section>\n");
  return true;
}

}  // namespace

bool write_preview(ByteBuffer& out, const Match& m, const std::string& title,
                   const std::string& summary) {
  Page page(out, m);
  page.width = static_cast<unsigned>(m.image.width);
  page.height = static_cast<unsigned>(m.image.height);
  if (page.width > kTexMaxSplitDimension || page.height > kTexMaxSplitDimension) page.scale = 1;
  page.shown = colours_of(m.setting.palette, m.setting.expanded);
  const TexSize size = tex_level_size(page.width, page.height, 0);
  page.after =
      level_panel("after", tex_level(*m.result, 0, page.width, page.height), page.shown, size);
  page.before = panel_of("before", {0, 0});
  if (m.old.usable) {
    page.old_shown = colours_of(*m.old.palette, tex_is_expanded(m.old.subtype));
    page.before = level_panel("before", tex_level(*m.old.levels, 0, page.width, page.height),
                              *page.old_shown, size);
  }
  append_head(page, title);
  if (!append_before_and_after(page) || (m.old.usable && !append_changes(page)) ||
      !append_lower_levels(page) || !append_palette(page))
    return false;
  append(out, "<h2>Summary</h2>\n<pre>" + escaped(summary) + "</pre>\n</body></html>\n");
  return true;
}
