#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "formats/colour.h"
#include "formats/tex.h"
#include "prep/match/quantizer.h"

// The search for the palette that fits an edit's new colours best, when
// there is no room for them: the record its phases share, and the phases,
// each in a file named for it, in the order reduce_colours takes them.

struct Match;

/// How a candidate makes room for the new colours.
enum class Kind {
  whole,   ///< none: every new colour takes its nearest entry
  exact,   ///< the least used entries give their places to the edit's most used colours
  remade,  ///< libimagequant's colours for the edit in all but the entries held fixed
  anew,    ///< libimagequant's colours for the whole picture, as pngquant makes them
};

/// Whether libimagequant makes a palette only to compare it, quickly, or the
/// one that is kept, with the picture remapped into it.
enum class Pass { trial, final };

/// A palette one way of fitting the new colours gives.
struct Candidate {
  Kind kind = Kind::whole;
  std::size_t fixed = 0;  ///< the ranked entries held: all but those given up
  TexPalette palette{};
  EntrySet filled{};           ///< entries that hold a colour
  EntrySet kept{};             ///< entries that hold the colour they held, at the same place
  double edit_error = 0;       ///< of the pixels the user changed (squared distances)
  double untouched_error = 0;  ///< of the pixels the user did not change, where they change
  /// Where each of libimagequant's colours went, in its order (-1 for one
  /// there was no room for): for a palette it made.
  std::array<int, kTexPaletteEntries> entry_of_made{};
};

/// What the candidates are weighed on besides the edit's own pixels: by
/// entry, the pixels that take it without asking for a new colour,
/// untouched ones apart.
struct Demand {
  std::array<std::size_t, kTexPaletteEntries> untouched{};
  std::array<std::size_t, kTexPaletteEntries> matched{};
};

/// The search under way.
struct ColourSearch {
  explicit ColourSearch(Match& match) : m(match) {}

  Match& m;
  /// The entries that pixels keeping their colour use, most worth keeping first.
  std::vector<unsigned char> ranked;
  /// How many ranked ones, at the front, are always held: the see-through
  /// ones, and the most worth keeping of each other alpha, so that a pixel
  /// the user did not change keeps its alpha however many are given up.
  std::size_t held = 0;
  bool large = false;  ///< a large edit (see kLargeEditShare)
  Demand demand;
  double allowed = 0;  ///< how much error the edit may come out with
  std::vector<Candidate> candidates;
};

// Ranking the kept entries (rank_entries.cpp).

/// Ranks the entries that pixels keeping their colour use (the users, at all
/// three levels), most worth keeping first, into s.ranked: the held ones
/// (see ColourSearch::held), then by what giving one up would cost: the
/// pixels that use it (each moved at all costing kAnyMove) and how far they
/// would move, to the nearest other kept colour of its alpha. The entries given up first
/// are then chosen so that the medium and low levels lose no larger share
/// of their pixels than the high level.
void rank_kept_entries(ColourSearch& s);

// The pixels libimagequant is given (pixel_samples.cpp).

/// Where in the block of two by two pixels at column i, row j of such
/// blocks a large edit's palettes are made from, and where they are
/// weighed: opposite corners, which change from block to block along rows
/// and columns, so that neither misses a colour of a one-pixel pattern
/// (stripes, a checker, a grille) and no pixel is in both.
std::size_t block_x(std::size_t i, std::size_t j, bool weighed);
std::size_t block_y(std::size_t i, std::size_t j, bool weighed);

/// The picture as libimagequant is asked to reduce it, every pixel alike,
/// as pngquant takes them.
QuantizeRequest whole_picture(const Match& m);

/// One pixel of every block of two by two (see block_x): enough to make a
/// palette from.
QuantizeRequest sampled_picture(Match& m);

/// The pixels that need a colour from the entries not held fixed: those
/// the user changed, fully, and the untouched ones whose entry is given up,
/// a little (see the importances in tuning.h); for a large edit's trials,
/// only one pixel of each block of two by two (see block_x); every so many
/// of them, at most about kEditSample. The pixels that keep their entry are
/// served already, and libimagequant works on what is left faster.
QuantizeRequest edit_pixels(const ColourSearch& s, const EntrySet& fixed,
                            std::span<const Rgba> fixed_colours, Pass pass);

/// The rows from the first to the last that hold a pixel of a new colour,
/// as pixels of the picture: all of it when there is none.
std::span<const Rgba> edited_rows(const Match& m, std::size_t& first);

// The candidate palettes (candidate_palettes.cpp).

/// The palette kept as it is.
Candidate whole_palette(const Match& m);

/// The new colours the pixels ask for, the most used first.
std::vector<Rgba> frequent_new_colours(const Match& m);

/// The palette with the edit's most used colours exactly, in the entries no
/// kept pixel uses and in the given_up least worth keeping of the ranked ones.
Candidate exact_colours(const ColourSearch& s, std::size_t given_up,
                        const std::vector<Rgba>& frequent);

/// A palette from libimagequant holding the first count ranked entries
/// fixed and making the rest for the edit, or, with none held (but
/// see-through ones), for the whole picture; on the final pass with the
/// picture remapped into the scratch. False when libimagequant fails.
bool remade_palette(ColourSearch& s, std::size_t count, Pass pass, Candidate& c);

// Weighing them (weigh_candidates.cpp).

/// Gathers what the candidates are weighed on besides the edit's own pixels
/// into s.demand.
void gather_demand(ColourSearch& s);

/// Weighs a candidate: the error of the whole high level against the
/// picture asked for, each pixel at its entry where that keeps its colour,
/// else at its nearest entry, the new colours dithered; the pixels the user
/// changed apart from those the user did not.
void weigh(const ColourSearch& s, Candidate& c);

/// Sets how much error the edit may come out with, as the candidates count
/// it: a margin (see tuning.h) times, root mean square, its error after the
/// fresh reduction among the candidates, that taken as at least
/// kLeastEditError for each pixel the user changed.
void allow_error(ColourSearch& s);

/// The fresh reduction of the whole picture among the candidates.
const Candidate& anew_candidate(const ColourSearch& s);

/// The candidate chosen: of those that keep the edit's error within what is
/// allowed, the one of least weighted error, an untouched pixel that changes
/// colour counting kUntouchedWeight times the same error in the edit; the
/// fresh reduction where none does.
const Candidate& least_weighted(const ColourSearch& s);

// The search over counts of fixed entries (fixed_count_search.cpp).

/// Chooses how to make room for the new colours: weighs the palette kept
/// whole, the edit's most used colours in the places of a few of the least
/// used entries (a small edit), and palettes holding some of the ranked
/// entries fixed with libimagequant's colours in the others, from all of
/// them down to the fresh reduction, which holds none (but see-through
/// ones), refining the count chosen. chosen is the one taken; false when
/// libimagequant fails.
bool choose_candidate(ColourSearch& s, Candidate& chosen);

// Remapping the pixels (remap_pixels.cpp).

/// For a palette that kept the places of the colours it held: a pixel the
/// edit did not touch keeps its index where that entry kept its colour,
/// else takes the nearest one; a new colour its entry where the palette
/// holds it exactly, else its nearest, dithered (Floyd and Steinberg's
/// weights) among the new colours' pixels alone, so that nothing the user
/// did not touch changes.
void remap_by_nearest(Match& m, const Candidate& c);

/// For a palette libimagequant made, whose dithering the new colours keep
/// (see the candidate's entry_of_made). A pixel the edit did not touch keeps its
/// index where that entry kept its colour and place. A colour the palette
/// holds exactly is taken as it is: no dithering noise on flat areas. A
/// pixel the edit did not touch whose colour was dropped takes the nearest
/// one: dithering it would scatter noise over what the user left alone.
void remap_into_remade_palette(Match& m, const Candidate& c);

/// Dithering may give a fully transparent or fully opaque pixel a colour of
/// some other alpha: a see-through speck, or a faint veil over nothing. Such
/// a pixel takes the nearest entry of its exact alpha, where there is one: a
/// see-through one by its colour too, which filtering blends into what shows.
void keep_exact_alpha(Match& m, const Candidate& c);
