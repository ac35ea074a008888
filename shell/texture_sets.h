#pragma once

#include <memory>
#include <string>
#include <vector>

#include "files/commit_repair.h"
#include "files/texture_lock.h"
#include "shell/texture_path.h"

// The sets of files a texture has, each written together by one tool, and
// the first step of every tool on a texture: lock it, repair what a stopped
// run left, and clear away what it left lying about.

/// A texture locked for a tool's run, and the names in its tga/ and image
/// directories as the lock step found them, for the names a tool looks for
/// in any case there before it writes in them: one listing of a large
/// directory a texture, not one for each name looked for.
/// A directory's names as one listing found them, shared (with the listing
/// kept for the run's next texture) rather than copied.
using NameListing = std::shared_ptr<const std::vector<std::string>>;

struct LockedTexture {
  TextureLock lock;
  NameListing split_names;
  NameListing prep_names;
};

/// Locks the texture whose files lie in directory (see TextureLock), saying
/// when it waits for another run and warning when no lock could be taken;
/// then repairs its sets that a run stopped while it put them in place (see
/// repair_interrupted_commit), saying so in one line, and removes what runs
/// stopped earlier left. A file at a record's name that is no record of the
/// tool's own is left alone with a warning; the tool that needs that name
/// for its own record refuses the texture, as a tool that works on a set
/// does when that set could not be repaired. False, reported, when the tool
/// is to leave the texture as it is.
bool lock_texture(LockedTexture& texture, const std::string& directory, const TextureName& name,
                  ToolKind tool);
