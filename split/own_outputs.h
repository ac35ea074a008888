#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/bytes.h"

// What skinsplit knows of the files it wrote in tga/: their checksums, kept
// in a lasting hidden file of its own beside them (".car1.skinsplit-sums"),
// so that it knows its own outputs by content, never by time:
//   skinsplit sums 1
//   palette 1a2b3c4d    (or "none")
//   image ...  png ...

/// The checksum of each file skinsplit wrote; empty where it wrote none.
struct OwnOutputs {
  std::optional<std::uint32_t> palette;
  std::optional<std::uint32_t> image;
  std::optional<std::uint32_t> png;
};

/// Reads the sums in name, if that is a regular file of the user's own
/// (one planted by someone else tells nothing): empty sums otherwise.
OwnOutputs read_own_outputs(const std::string& name);

/// The sums as the file's bytes, at the end of out.
void write_own_outputs(ByteBuffer& out, const OwnOutputs& sums);
