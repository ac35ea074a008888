#pragma once

#include <string>

#include "files/commit_repair.h"
#include "files/texture_lock.h"
#include "shell/texture_path.h"

// The sets of files a texture has, each written together by one tool, and
// the first step of every tool on a texture: lock it, repair what a stopped
// run left, and clear away what it left lying about.

/// skinsplit's set, in tga/ inside directory (empty or ending in a separator).
RecordedSet split_set(const std::string& directory, const TextureFiles& files);

/// skinprep's set, in the image directory inside directory.
RecordedSet prep_set(const std::string& directory, const TextureFiles& files);

/// Locks the texture whose files lie in directory (see TextureLock), saying
/// when it waits for another run and warning when no lock could be taken;
/// then repairs its sets that a run stopped while it put them in place (see
/// repair_interrupted_commit), saying so in one line, and removes what runs
/// stopped earlier left. A file at a record's name that is no record of the
/// tool's own is left alone with a warning; the tool that needs that name
/// for its own record refuses the texture, as a tool that works on a set
/// does when that set could not be repaired. False, reported, when the tool
/// is to leave the texture as it is.
bool lock_texture(TextureLock& lock, const std::string& directory, const TextureName& name,
                  ToolKind tool);
