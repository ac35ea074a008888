#pragma once

#include <span>
#include <string>

// The rule by which the tools follow a link at a name they write or enter.

/// Whether the first bytes of a file (head) read as the kind of file that
/// name stands for by its extension: a TGA image for "car1_h.tga", say.
using KindCheck = bool (*)(const std::string& name, std::span<const unsigned char> head);

/// What a link at a name is, by the rule that a link is followed only where
/// the user made it for that: it and the directory holding it belong to the
/// user running the tool (each link of a chain), and it leads to a regular
/// file of the kind the name stands for (its extension, and a header that
/// reads as that kind), or for a directory's name, to a directory. A link
/// in a downloaded archive or planted by another user in a shared folder
/// thus never makes a tool write anywhere else.
enum class LinkVerdict {
  none,        ///< the name is no link (or names nothing yet)
  followed,    ///< the user's own link, to a file of the kind
  foreign,     ///< the link, or the directory holding it, belongs to another user
  dangling,    ///< it leads to nothing, or round in a circle
  wrong_type,  ///< it leads to a device, pipe, socket or directory (a file, for a directory's name)
  wrong_kind,  ///< it leads to a file of another kind
};

/// Follows a link at name by that rule; end is the file at the end of it
/// (name itself when it is no link), what the link leads to in any case.
LinkVerdict follow_own_link(const std::string& name, KindCheck kind, std::string& end);

/// Enters the directory name, following a link there only by that rule (to
/// a directory). False with the error number, or with verdict saying why the
/// link is not followed.
bool enter_directory(const std::string& name, LinkVerdict& verdict);

/// Whether the directory name, if it is a link, is one the rule follows.
bool directory_link_allowed(const std::string& name, LinkVerdict& verdict);
