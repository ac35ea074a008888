#pragma once

#include <functional>
#include <span>
#include <string>

#include "files/file_system.h"
#include "files/links.h"
#include "files/output_file.h"
#include "formats/bytes.h"
#include "shell/messages.h"

// How the tools write their files: each output is opened by the rule for
// links (a link is written through only where the user made it for that),
// and the files that belong together are put in place together.

/// How skinprep's page begins: what tells a page it wrote.
inline constexpr const char* kPreviewStart =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
    "<meta name=\"generator\" content=\"skinprep\">\n";

/// Whether the first bytes of a file read as the kind of file the tools
/// write under name: a TEX texture, TGA image, palette file, PNG image or
/// skinprep's page, by the name's extension.
bool reads_as_its_kind(const std::string& name, std::span<const unsigned char> head);

/// Opens an output for name, a link there followed only by the rule.
bool open_output_file(OutputFile& file, const std::string& name);

/// Reports an output that could not be opened: a link the rule does not
/// follow, shown as shown, with a line of its own; else the system's reason
/// after message, unless that is empty.
void report_output_not_opened(const OutputFile& file, const std::string& shown,
                              const std::string& message);

/// Reports a link that the rule does not follow, at a file's name or (with
/// directory) a directory's, shown as shown.
void report_link_refused(const std::string& shown, LinkVerdict verdict, bool directory);

/// Creates a directory where none is (one that exists already is simply
/// used) and enters it, a link there followed only by the rule. Writing
/// anywhere else could overwrite unrelated files, so a directory that cannot
/// be entered is a failure, reported with failure_message.
bool create_and_enter_directory(const std::string& name, const std::string& failure_message);

/// Enters a directory that is there to be read, a link there followed only
/// by the rule; shown names it in a report. A failure is reported with
/// failure_message.
bool enter_existing_directory(const std::string& name, const std::string& shown,
                              const char* failure_message);

/// One file of the set a tool writes: its name in the current directory and
/// its new content, finished. With keep_edits, an existing file whose bytes
/// differ from the new ones (an edited image, say) is kept as NAME~N first.
struct SetOutput {
  std::string name;
  OutputFile file;
  bool keep_edits = false;
};

/// What a tool says while it saves one output, each text as that tool has
/// always said it.
struct SaveWords {
  std::string announce;       ///< before it is opened ("Saving image car1.tga..."), or empty
  std::string open_failed;    ///< progress when it cannot be opened ("failed.\n")
  std::string cannot_create;  ///< then the system's reason after this; empty for none
  std::string shown;          ///< its name in the refusal of a link there
  const char* write_failed = kWriteDataFailed;  ///< the system's reason after this
  bool done = true;                             ///< "done!" once it is written
};

/// Saves one output of a set: announces it, opens it, has write make its
/// bytes (false when that fails), writes them and says "done!", in the
/// tool's own words. Reports a failure.
bool save_output(SetOutput& output, const SaveWords& words,
                 const std::function<bool(ByteBuffer&)>& write);

/// Puts the written files of a set in place together (see commit_outputs,
/// which record names the record for), each kept first where it asks for
/// that, and says which were kept, naming them inside shown_directory. A
/// file that cannot be kept is not replaced, nor the rest. Reports a
/// failure, and a set left mixed until the next run repairs it.
bool put_set_in_place(std::span<SetOutput* const> set, const std::string& shown_directory,
                      const std::string& record);
