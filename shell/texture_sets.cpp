#include "shell/texture_sets.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "files/errno_guard.h"
#include "shell/outputs.h"
#include "shell/report.h"

namespace {

/// Lists inside.
NameListing listed(const std::string& inside) {
  return std::make_shared<const std::vector<std::string>>(names_in(inside));
}

/// One of a texture's recorded sets, as the lock step looks at it.
struct TextureSet {
  RecordedSet files;
  const char* tool;  ///< the tool that writes it
  ToolKind writer;   ///< which needs the record's name for its own
  ToolKind reader;   ///< which reads the set (and so cannot go on with it mixed)
};

/// Repairs one set, saying what it did. False when the tool is to leave the
/// texture as it is; pending is set when the record stays.
bool repair_set(const TextureSet& set, const TextureName& name, ToolKind tool, bool& pending) {
  std::size_t replaced = 0;
  std::string why;
  const std::string shown = set.files.directory + set.files.record;
  switch (repair_interrupted_commit(set.files, replaced, why)) {
    case RepairOutcome::none:
      return true;
    case RepairOutcome::undone:
      print_progress(
          "Repaired %s: %s was stopped after replacing %lu of its files; the old files "
          "are back.\n",
          shown.c_str(), set.tool, static_cast<unsigned long>(replaced));
      return true;
    case RepairOutcome::not_own:
      if (tool == set.writer) {
        print_error(
            "ERROR! %s is in the way of %s's record and is not one it wrote (%s): remove "
            "it, and %s is left as it is until then!\n",
            shown.c_str(), set.tool, why.c_str(), name.base.c_str());
        return false;
      }
      print_error("WARNING! %s is not a record %s wrote (%s); it is left as it is.\n",
                  shown.c_str(), set.tool, why.c_str());
      return true;
    case RepairOutcome::failed:
      pending = true;
      if (tool == set.writer || tool == set.reader) {
        print_error(
            "ERROR! Could not put back the old files %s lists (%s): %s is left as it is "
            "until the next run can!\n",
            shown.c_str(), std::strerror(errno), name.base.c_str());
        return false;
      }
      print_error(
          "WARNING! Could not put back the old files %s lists (%s); the next run tries "
          "again.\n",
          shown.c_str(), std::strerror(errno));
      return true;
  }
  return true;
}

/// A name in directory as it is spelled on disk (see find_in_any_case).
std::string on_disk(const std::string& directory, const std::string& name) {
  std::string other;
  return name_of(find_in_any_case(directory + name, other));
}

/// The listing of tga/ kept from one texture of a run to the next, by a
/// tool that never writes there (skinprep, skinweld): a batch in one folder
/// then lists it once, not once a texture. It is taken anew when the
/// directory is another, or changed since, or changed within the last two
/// seconds (file times may not tell two changes in one tick apart).
struct KeptListing {
  bool valid = false;
  struct stat status {};
  NameListing names;
};
KeptListing kept_listing;

/// Whether a directory's status is the one a listing was taken with, and
/// its last change lies well before now.
bool unchanged_since(const struct stat& was, const struct stat& now) {
#ifdef _WIN32
  (void)was;
  (void)now;
  return false;  // no change time of nanoseconds to tell by
#else
  const auto same = [](const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  };
  timespec clock{};
  clock_gettime(CLOCK_REALTIME, &clock);
  return was.st_dev == now.st_dev && was.st_ino == now.st_ino && same(was.st_mtim, now.st_mtim) &&
         same(was.st_ctim, now.st_ctim) && now.st_mtim.tv_sec + 2 < clock.tv_sec &&
         now.st_ctim.tv_sec + 2 < clock.tv_sec;
#endif
}

/// The names in inside, from the kept listing where keep allows it.
NameListing listing_of(const std::string& inside, bool keep) {
  const ErrnoGuard keep_errno;
  struct stat status {};
  if (!keep || stat(inside.c_str(), &status) != 0) return listed(inside);
  if (!kept_listing.valid || !unchanged_since(kept_listing.status, status))
    kept_listing = {true, status, listed(inside)};
  return kept_listing.names;
}

/// One set as the lock step finds it: its directory listed once for its
/// record and its leftovers (a large tga/ costs a listing each time).
struct ListedSet {
  TextureSet set;
  NameListing names;
};

/// A set in inside (ending in a separator) whose record is called record;
/// with keep, the listing may be the one kept from the run's last texture.
ListedSet listed_set(TextureSet set, const std::string& inside, const std::string& record,
                     bool keep = false) {
  NameListing names = listing_of(inside, keep);
  set.files.directory = inside;
  std::string other;  // of two records alike, the first
  set.files.record = name_of(find_among(inside + record, *names, other));
  return {std::move(set), std::move(names)};
}

/// skinsplit's set, in tga/ inside directory (empty or ending in a separator),
/// as the tool at work finds it.
ListedSet split_set(const std::string& directory, const TextureFiles& files, ToolKind tool) {
  const TextureSet set{{"",
                        "",
                        {files.split_palette, files.split_image, files.split_png, files.split_sums},
                        reads_as_its_kind},
                       "skinsplit",
                       ToolKind::split,
                       ToolKind::prep};
  return listed_set(set, directory + kSplitDirectory + "/", files.split_record,
                    tool != ToolKind::split);
}

/// skinprep's set, in the image directory inside directory.
ListedSet prep_set(const std::string& directory, const TextureFiles& files) {
  const TextureSet set{{"",
                        "",
                        {files.level_palette, files.levels[0], files.levels[1], files.levels[2],
                         files.memory, files.preview},
                        reads_as_its_kind},
                       "skinprep",
                       ToolKind::prep,
                       ToolKind::weld};
  return listed_set(set, directory + on_disk(directory, files.image_directory) + "/",
                    files.prep_record);
}

/// Takes the lock on the texture, saying when it waits and warning when
/// none could be taken; whether it holds it.
bool take_lock(TextureLock& lock, const std::string& directory, const TextureName& name) {
  const bool locked = lock.lock(directory, name.base, [&](const std::string& what) {
    const std::string typed = name.path.drive + name.path.directory;
    const std::string shown = what != "." ? what : typed.empty() ? "the current directory" : typed;
    print_progress("Waiting for another run on %s, which holds the lock on %s...\n",
                   name.base.c_str(), shown.c_str());
  });
  if (!locked) {
    print_error(
        "WARNING! Could not lock %s against other runs (%s): two runs on it at once may "
        "mix their files.\n",
        name.base.c_str(), std::strerror(errno));
  }
  return locked;
}

}  // namespace

bool lock_texture(LockedTexture& texture, const std::string& directory, const TextureName& name,
                  ToolKind tool) {
  const bool locked = take_lock(texture.lock, directory, name);
  const std::array<ListedSet, 2> sets = {split_set(directory, name.files, tool),
                                         prep_set(directory, name.files)};
  std::array<bool, 2> had_record{};
  for (std::size_t n = 0; n < sets.size(); ++n)
    had_record[n] = name_is_taken(sets[n].set.files.directory + sets[n].set.files.record);
  bool pending = false;
  for (const auto& [set, names] : sets) {
    // A set directory that is a link the rule does not follow is never
    // acted in; the tool that enters it refuses it there.
    LinkVerdict verdict = LinkVerdict::none;
    const std::string& inside = set.files.directory;
    if (!directory_link_allowed(inside.substr(0, inside.size() - 1), verdict)) continue;
    if (!repair_set(set, name, tool, pending)) return false;
  }
  // Leftovers are cleared only by a run that holds the lock, which no other
  // run on the texture can be writing them meanwhile, and only where no
  // record still needs them.
  if (locked && !pending) {
    // A repair only takes hidden names away, so the listings still hold
    // every leftover there is.
    for (const auto& [set, names] : sets)
      remove_leftovers(set.files, *names);
    remove_leftovers({directory, "", {name.files.tex}, reads_as_its_kind}, names_in(directory));
  }
  // A repair may have put files back under their own names.
  for (std::size_t n = 0; n < sets.size(); ++n) {
    (n == 0 ? texture.split_names : texture.prep_names) =
        had_record[n] ? listed(sets[n].set.files.directory) : sets[n].names;
  }
  return true;
}
