#include "shell/outputs.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "files/errno_guard.h"
#include "files/set_commit.h"
#include "formats/pal.h"
#include "formats/png.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "shell/report.h"
#include "shell/texture_path.h"

namespace {

/// The kinds of file the tools write, by extension, and what each is called.
struct OutputKind {
  const char* extension;
  const char* called;
  bool (*reads_as)(std::span<const unsigned char> head);
};

bool is_preview(std::span<const unsigned char> head) {
  const std::size_t length = std::strlen(kPreviewStart);
  return head.size() >= length && std::memcmp(head.data(), kPreviewStart, length) == 0;
}

constexpr OutputKind kOutputKinds[] = {
    {".tex", "TEX texture", tex_head_is_valid},   {".tga", "TGA image", tga_head_is_valid},
    {".pal", "palette file", pal_head_is_valid},  {".png", "PNG image", png_head_is_valid},
    {".html", "page skinprep wrote", is_preview},
};

const OutputKind* kind_of(const std::string& name) {
  for (const OutputKind& kind : kOutputKinds) {
    if (has_extension(name, kind.extension)) return &kind;
  }
  return nullptr;
}

}  // namespace

bool reads_as_its_kind(const std::string& name, std::span<const unsigned char> head) {
  const OutputKind* kind = kind_of(name);
  return kind != nullptr && kind->reads_as(head);
}

bool open_output_file(OutputFile& file, const std::string& name) {
  return file.open_for_writing(name, reads_as_its_kind);
}

void report_output_not_opened(const OutputFile& file, const std::string& shown,
                              const std::string& message) {
  if (file.link_verdict() != LinkVerdict::none && file.link_verdict() != LinkVerdict::followed) {
    report_link_refused(shown, file.link_verdict(), false);
    return;
  }
  if (!message.empty()) print_system_error(message.c_str());
}

void report_link_refused(const std::string& shown, LinkVerdict verdict, bool directory) {
  std::string what;
  switch (verdict) {
    case LinkVerdict::foreign:
      what = "a link of another user's, or in another user's directory";
      break;
    case LinkVerdict::dangling:
      what = "a link that leads to nothing";
      break;
    case LinkVerdict::wrong_type:
      what = directory ? "a link to no directory" : "a link to no regular file";
      break;
    case LinkVerdict::wrong_kind: {
      const OutputKind* kind = kind_of(shown);
      what = std::string("a link to a file that is not a ") +
             (kind != nullptr ? kind->called : "file") + " or has another extension";
      break;
    }
    case LinkVerdict::none:
    case LinkVerdict::followed:
      return;
  }
  print_error("ERROR! %s is %s, which the tools do not %s!\n", shown.c_str(), what.c_str(),
              directory ? "enter" : "write through");
}

bool create_and_enter_directory(const std::string& name, const std::string& failure_message) {
  LinkVerdict verdict = LinkVerdict::none;
  if (!directory_link_allowed(name, verdict)) {
    report_link_refused(name, verdict, true);
    return false;
  }
#ifdef _WIN32
  const bool created = _mkdir(name.c_str()) == 0;
#else
  const bool created = mkdir(name.c_str(), 0777) == 0;
#endif
  // One that exists already is simply used; any other reason the creation
  // failed is the real reason it cannot be entered.
  const int create_errno = created ? EEXIST : errno;
  if (!enter_directory(name, verdict)) {
    if (verdict != LinkVerdict::none && verdict != LinkVerdict::followed) {
      report_link_refused(name, verdict, true);
      return false;
    }
    if (create_errno != EEXIST) errno = create_errno;
    print_system_error(failure_message.c_str());
    return false;
  }
  return true;
}

bool enter_existing_directory(const std::string& name, const std::string& shown,
                              const char* failure_message) {
  LinkVerdict verdict = LinkVerdict::none;
  if (enter_directory(name, verdict)) return true;
  if (verdict != LinkVerdict::none && verdict != LinkVerdict::followed)
    report_link_refused(shown, verdict, true);
  else
    print_system_error(failure_message);
  return false;
}

bool save_output(SetOutput& output, const SaveWords& words,
                 const std::function<bool(ByteBuffer&)>& write) {
  if (!words.announce.empty()) print_progress("%s", words.announce.c_str());
  OutputFile& file = output.file;
  if (!open_output_file(file, output.name)) {
    // Where the tool's words say it on standard output alone, quiet mode
    // has a line of its own on standard error.
    const bool said_on_error =
        !words.cannot_create.empty() ||
        (file.link_verdict() != LinkVerdict::none && file.link_verdict() != LinkVerdict::followed);
    print_progress_failure(words.open_failed.c_str(),
                           said_on_error ? "" : "ERROR! Could not create " + words.shown + "!\n");
    report_output_not_opened(file, words.shown, words.cannot_create);
    return false;
  }
  if (!write(file.bytes()) || !file.finish()) {
    print_system_error(words.write_failed);
    return false;
  }
  if (words.done) print_progress("done!\n");
  return true;
}

bool put_set_in_place(std::span<SetOutput* const> set, const std::string& shown_directory,
                      const std::string& record) {
  std::string shown = shown_directory.empty() ? "" : shown_directory + "/";
  std::vector<std::string> kept(set.size());
  std::vector<OutputFile*> files;
  for (std::size_t i = 0; i < set.size(); ++i) {
    const std::string& name = set[i]->name;
    if (set[i]->keep_edits && !set[i]->file.keep_changed_target(
                                  [&](unsigned n) { return numbered_name(name, n); }, kept[i])) {
      std::string message = "ERROR! Could not keep the old ";
      message.append(shown).append(name).append(", so it is not replaced! ");
      print_system_error(message.c_str());
      return false;
    }
    files.push_back(&set[i]->file);
  }
  const CommitResult result = commit_outputs(files, record);
  if (result != CommitResult::done) {
    const std::string message =
        result == CommitResult::mixed
            ? "ERROR! Could not put the new files in place, nor all the old ones back: " + shown +
                  record +
                  " keeps the list, and the next run on this texture puts the old "
                  "ones back! "
            : std::string("ERROR! Could not put the new files in place! ");
    print_system_error(message.c_str());
    const ErrnoGuard keep_errno;
    for (const std::string& name : kept) {
      if (!name.empty()) std::remove(name.c_str());  // the old file is still in place
    }
    return false;
  }
  for (std::size_t i = 0; i < set.size(); ++i) {
    const OutputFile& file = set[i]->file;
    if (file.changes()) note_written(shown + set[i]->name + (file.removes() ? " (removed)" : ""));
    if (kept[i].empty()) continue;
    print_progress("Keeping the old %s%s as %s%s\n", shown.c_str(), set[i]->name.c_str(),
                   shown.c_str(), kept[i].c_str());
    note_kept(shown + set[i]->name, shown + kept[i]);
  }
  return true;
}
