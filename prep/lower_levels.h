#pragma once

#include "prep/prep_work.h"

// The medium and low levels: the texture's own pixels wherever their 2 × 2
// and 4 × 4 blocks did not change, made from the picture elsewhere.

/// Adds to the entries' users the texture's lower-level pixels that are
/// reused, each as the high-level pixels it stands for, so that a new colour
/// never takes an entry one of them needs.
void count_reused_entries(Match& m);

/// Makes the medium and low levels, reusing the texture's pixels where the
/// picture did not change and averaging the blocks that did as light.
void make_lower_levels(Match& m);
