#include "support/run_tool.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <thread>

namespace {

constexpr uid_t kNobody = 65534;

[[noreturn]] void run_child(const std::string& exe, const std::vector<std::string>& args,
                            const std::filesystem::path& cwd, const RunOptions& options,
                            int stdin_fd, int out_fd, int err_fd) {
  dup2(stdin_fd, 0);
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  if (chdir(cwd.c_str()) != 0) _exit(126);
  if (options.unprivileged && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
  }
  if (options.file_size_limit >= 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                          static_cast<rlim_t>(options.file_size_limit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(exe.c_str(), argv.data());
  _exit(127);
}

/// Reads both pipes to their ends at once, so neither can fill up and stall the child.
void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace

RunResult run_tool(const std::string& exe, const std::vector<std::string>& args,
                   const std::filesystem::path& cwd, const RunOptions& options) {
  // Standard input comes from an unlinked temporary file, which any user can read.
  std::FILE* input = std::tmpfile();
  if (input == nullptr) throw std::runtime_error("tmpfile failed");
  std::fputs(options.stdin_text.c_str(), input);
  std::fflush(input);
  std::rewind(input);
  RunResult result;
  pid_t pid = -1;
  if (options.terminal) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
      throw std::runtime_error("openpty failed");
    std::fflush(nullptr);
    pid = fork();
    if (pid == 0) {
      close(master);
      run_child(exe, args, cwd, options, options.terminal_input ? slave : fileno(input), slave,
                slave);
    }
    close(slave);
    // Types the input after the delay, unless the tool has ended by then.
    std::promise<void> ended;
    std::future<void> has_ended = ended.get_future();
    std::thread typist;
    if (options.terminal_input && !options.stdin_text.empty()) {
      typist = std::thread([&] {
        if (has_ended.wait_for(std::chrono::milliseconds(options.type_after_ms)) ==
            std::future_status::timeout)
          (void)!write(master, options.stdin_text.data(), options.stdin_text.size());
      });
    }
    char buffer[4096];
    ssize_t got = 0;
    // Ends with EIO once the child has closed the terminal's last other end.
    while ((got = read(master, buffer, sizeof buffer)) > 0)
      result.out.append(buffer, static_cast<std::size_t>(got));
    ended.set_value();
    if (typist.joinable()) typist.join();
    close(master);
  } else {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    pid = fork();
    if (pid == 0) run_child(exe, args, cwd, options, fileno(input), out_pipe[1], err_pipe[1]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    // Joined before the child is reaped, so its process id cannot be reused meanwhile.
    std::thread watcher;
    if (options.while_running) watcher = std::thread(options.while_running, pid);
    drain(out_pipe[0], err_pipe[0], result.out, result.err);
    if (watcher.joinable()) watcher.join();
  }
  std::fclose(input);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

bool can_test_permissions() {
  if (geteuid() != 0) return true;
  const pid_t pid = fork();
  if (pid == 0) _exit(setgid(kNobody) == 0 && setuid(kNobody) == 0 ? 0 : 1);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
