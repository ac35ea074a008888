#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "formats/tex.h"

// How the reduction weighs the ways of fitting new colours into a palette
// that has no room for them. Each constant says why it is what it is; the
// figures it was chosen on are in bench/README.md, under its name, beside
// the script that reproduces them (bench/quality.sh).

/// What a colour changed where the user did not paint costs against the
/// same error inside the edit: the user sees the first as damage.
inline constexpr double kUntouchedWeight = 4;

/// What any change of an untouched pixel's colour costs beside its distance
/// (squared, as colour_distance counts: a change of 8 in each of red,
/// green, blue and alpha): the user sees that it changed at all.
inline constexpr double kAnyChange = 256;

/// What moving the pixels of an entry given up costs beside how far they
/// move, in the same squared unit (the ranking counts the root of it): it
/// makes entries that many pixels use worth keeping even where a near
/// colour is left.
inline constexpr double kAnyMove = 256.0 * 256.0;

/// How much larger than after a fresh reduction of the whole picture the
/// edit's error may come out, root mean square: a small edit (its pixels
/// are few beside those it would change elsewhere) by most; a large one,
/// which is most of what the user looks at, by least where it is smooth
/// (a gradient bands) and more where it is busy (a photograph hides the
/// error among pixels that differ from their neighbours anyway).
inline constexpr double kSmallEditMargin = 1.3;
inline constexpr double kSmoothEditMargin = 1.1;
inline constexpr double kBusyEditMargin = 1.2;

/// A pixel is busy where four times its colour differs from the sum of its
/// four neighbours' by more than this, over the four channels (a straight
/// gradient differs by nothing); an edit counts as wholly busy from this
/// share of busy pixels on.
inline constexpr int kBusyContrast = 16;
inline constexpr double kBusyShare = 0.4;

/// A tenth of the picture or more asking for new colours is a large edit:
/// then it is most of what the user looks at.
inline constexpr std::size_t kLargeEditShare = 10;

/// How many times the count of fixed entries chosen is refined, halfway to
/// the next larger count tried each time: the counts tried lie too far
/// apart for the untouched pixels of a large edit, and each halving costs
/// a trial.
inline constexpr int kRefinements = 3;

/// The least error (squared, over the four channels) that a pixel the user
/// changed is held to: 0.5 in each, so that a fresh reduction giving every
/// colour exactly still leaves the others some room.
inline constexpr double kLeastEditError = 1;

/// libimagequant's speed for the palettes only compared: the fastest that
/// keeps the lowest bit of each channel and refines its median cut once, so
/// that a fresh reduction is not judged worse than it will come out.
inline constexpr int kTrialSpeed = 7;
/// Its speed for the palette kept: pngquant's own default.
inline constexpr int kFinalSpeed = 4;

/// At most how many of the pixels that need new colours libimagequant is
/// given to make them from: every so many of them, when there are more.
inline constexpr std::size_t kEditSample = kTexMaxPixels / 16;

/// How much a pixel counts for libimagequant: an edited one fully where no
/// fixed colour comes within kServedDistance of it (squared: 10 in each
/// channel, or 20 in one), less the nearer one comes, down to
/// kServedImportance, since a fixed entry shows it nearly already and the
/// colours made serve the rest better; an untouched one whose entry was
/// given up little, as it takes the nearest colour left.
inline constexpr unsigned char kEditedImportance = 255;
inline constexpr unsigned char kServedImportance = 64;
inline constexpr std::int64_t kServedDistance = 400;
inline constexpr unsigned char kGivenUpImportance = 4;

/// How many of the entries next in line are looked at to find one whose
/// giving up leaves the lower levels no worse off than the high level.
inline constexpr std::size_t kBalanceLookAhead = 16;

/// How many of the least worth keeping entries a small edit's most used
/// colours are tried in, each count in turn.
inline constexpr std::array<std::size_t, 7> kEntriesGivenUp = {1, 2, 4, 8, 16, 32, 64};

/// The shares (in sixteenths) of the ranked entries held fixed while
/// libimagequant remakes the rest, besides none: a small edit tries the few
/// nearest all of them, which its error is held against; a large one a
/// spread down to half.
inline constexpr std::array<std::size_t, 4> kSmallEditFixed = {16, 15, 14, 12};
inline constexpr std::array<std::size_t, 5> kLargeEditFixed = {16, 14, 12, 10, 8};
