#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct RunResult {
  int exit_code = -1;  ///< -1 when the process did not exit normally
  int signal = 0;      ///< the signal that ended it, if one did
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string stdin_text;
  long file_size_limit = -1;  ///< RLIMIT_FSIZE in bytes, SIGXFSZ ignored; -1 for none
  bool unprivileged = false;  ///< as root, run as the user "nobody"
  bool terminal = false;      ///< both output streams go to one terminal, collected in out
  /// With terminal, standard input is that terminal too, and stdin_text is
  /// typed at it this long after the start (as a user answering a prompt).
  bool terminal_input = false;
  int type_after_ms = 0;
  /// Called on a thread of its own with the process id while the tool runs
  /// (output to pipes only), to stop, signal or watch it.
  std::function<void(pid_t)> while_running = nullptr;
};

/// Runs a program in cwd with the given arguments, feeding stdin_text to its
/// standard input, and collects its exit code and both output streams apart.
RunResult run_tool(const std::string& exe, const std::vector<std::string>& args,
                   const std::filesystem::path& cwd, const RunOptions& options = {});

/// Whether an unprivileged run can really be refused permission: true when not
/// root, or root and able to switch to the user "nobody".
bool can_test_permissions();
