#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

/// A texture name as the user typed it, taken apart: "C:\skins\car1.tex"
/// gives the drive "C:", the directory "\skins\" and the name "car1.tex".
struct TexturePath {
  std::string drive;      ///< "C:" or empty
  std::string directory;  ///< up to and including the last slash or backslash; may be empty
  std::string name;       ///< the rest
};

/// Splits an argument into drive, directory and name. A drive is the first
/// two characters when the second is a colon, on every platform.
TexturePath split_texture_path(std::string_view argument);

/// The files of one texture, each named as the tool that uses it opens it.
/// The texture's directory is current when these are used, except where a
/// name says "in tga/" or "in BASE/": that directory is current then.
struct TextureFiles {
  std::string tex;                    ///< "car1.tex"
  std::string split_image;            ///< "car1.tga", in tga/
  std::string split_palette;          ///< "car1.pal", in tga/
  std::string split_png;              ///< "car1.png", in tga/: an edit saved as PNG
  std::string edited_image;           ///< "tga/car1.tga", the image skinprep reads
  std::string edited_png;             ///< "tga/car1.png", which skinprep reads too
  std::string edited_palette;         ///< "tga/car1.pal"
  std::string image_directory;        ///< "car1", where skinprep writes and skinweld reads
  std::string level_palette;          ///< "car1.pal", in BASE/
  std::array<std::string, 3> levels;  ///< "car1_h.tga", "car1_m.tga", "car1_l.tga", in BASE/
  std::string memory;                 ///< "car1_source.png", in BASE/: what skinprep prepared
  std::string preview;                ///< "car1_preview.html", in BASE/: what it made, to look at
  /// ".car1.skinsplit-commit", in tga/, and ".car1.skinprep-commit", in
  /// BASE/: each lists its tool's set while the set is put in place.
  std::string split_record;
  std::string prep_record;
  /// ".car1.skinsplit-sums", in tga/: what skinsplit wrote there, by checksum.
  std::string split_sums;
};

/// The directory skinsplit writes into, and skinprep reads the edited image from.
inline constexpr const char* kSplitDirectory = "tga";

/// Which tool is at work: each has its own rule for a name, and its own
/// sets of files among a texture's.
enum class ToolKind { split, prep, weld };

/// A texture as a tool takes it from its argument: where it lies, the base
/// name that names every file, and those files.
struct TextureName {
  TexturePath path;
  std::string base;
  TextureFiles files;
  /// The edited image the argument named ("tga/car1.png"), for skinprep; empty otherwise.
  std::string dropped_image;
};

/// Reads an argument by a tool's rule. Every tool first drops separators at
/// the end ("car1/" is car1). Then, side by side, for "dir/car1.tex":
///   skinsplit, skinprep: directory "dir/", base "car1": the name up to its
///     last dot, whatever follows the dot ("car1" alone has no dot to cut).
///   skinweld: exactly ".tex" or ".TEX" is dropped (".Tex" names another
///     texture), and the rest is the base: "dir/car1.x" gives "car1.x".
/// skinprep also takes a file in a tga directory for its texture:
/// "dir/tga/car1.png" is the texture car1 in "dir/", and when it is a TGA or
/// PNG image, the image to read.
TextureName read_texture_name(std::string_view argument, ToolKind tool);

/// Whether a name ends in an extension (".png"), in any case.
bool has_extension(std::string_view name, std::string_view extension);

/// Where path names nothing as it is written, the one file or directory in
/// its directory whose name is its own but for case, as a game ships
/// "CAR5.TEX" for car5.tex; path itself where it names one exactly or none
/// matches. Where two or more match, other names the second and path is
/// ambiguous. Windows names ignore case already: there path is kept.
std::string find_in_any_case(const std::string& path, std::string& other);

/// find_in_any_case with path's directory listed already (see names_in):
/// a step that looks for several names in a large directory lists it once.
std::string find_among(const std::string& path, const std::vector<std::string>& listing,
                       std::string& other);

/// The files of one directory (empty for the current one, else ending in a
/// separator; listing, the names in it, see names_in) whose names are one
/// of names but for case, each as spelled on disk, in the order of names
/// (the first of two alike).
std::vector<std::string> find_each_among(const std::string& directory,
                                         const std::vector<std::string>& names,
                                         const std::vector<std::string>& listing);

/// The name an earlier version of a file is kept under: "car1.tga" and 2
/// give "car1~2.tga".
std::string numbered_name(const std::string& name, unsigned n);

/// Makes the path's drive and then its directory current. Going on anywhere
/// else could find another texture of the same name, so a failure is reported
/// and ends the argument.
bool enter_texture_directory(const TexturePath& path);

/// Makes the path's drive current, reporting a failure.
bool enter_texture_drive(const TexturePath& path);
