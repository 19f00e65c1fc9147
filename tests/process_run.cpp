// Child processes for the end-to-end tests: fork, exec, and read stdout
// and stderr together so that neither pipe can fill up and block the child.
#ifndef _WIN32

#include "process_run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string variable_name(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

// Our environment with the entries of `changes` replacing those of the
// same name.
std::vector<std::string> child_environment(const std::vector<std::string>& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const std::string& change : changes) {
            replaced = replaced || variable_name(change) == variable_name(text);
        }
        if (!replaced) result.push_back(text);
    }
    result.insert(result.end(), changes.begin(), changes.end());
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts) result.push_back(&text[0]);
    result.push_back(nullptr);
    return result;
}

// Reads both pipes to their ends; kills `pid` once `kill_after_ms` have
// passed (0: never), signals it as `options` asks.
void drain(int out_fd, int err_fd, std::string* out, std::string* err, pid_t pid,
           const ProcessOptions& options) {
    const int kill_after_ms = options.kill_after_ms;
    bool signalled = options.signal_number == 0;
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {out, err};
    int open_count = (out_fd >= 0) + (err_fd >= 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kill_after_ms);
    bool killed = kill_after_ms <= 0;
    while (open_count > 0) {
        int wait_ms = -1;
        if (!killed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                kill(pid, SIGKILL);
                killed = true;
            } else {
                wait_ms = static_cast<int>(left.count());
            }
        }
        const int ready = poll(fds, 2, wait_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
                if (!signalled && out->find(options.signal_when) != std::string::npos) {
                    kill(pid, options.signal_number);
                    if (options.second_signal != 0) kill(pid, options.second_signal);
                    signalled = true;
                }
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options) {
    ProcessResult result;
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = child_environment(options.environment);
    std::vector<char*> argument_pointers = pointers(arguments);
    std::vector<char*> environment_pointers = pointers(environment);

    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0) return result;
    if (pipe(err_pipe) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return result;
    }
    if (options.stdout_gone) {
        close(out_pipe[0]);
        out_pipe[0] = -1;
    }
    const int null_fd = open("/dev/null", O_RDONLY);

    const pid_t pid = fork();
    if (pid == 0) {
        if (null_fd >= 0) dup2(null_fd, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) _exit(126);
        execve(argument_pointers[0], argument_pointers.data(), environment_pointers.data());
        _exit(127);
    }
    if (null_fd >= 0) close(null_fd);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        if (out_pipe[0] >= 0) close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }

    drain(out_pipe[0], err_pipe[0], &result.out, &result.err, pid, options);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.started = true;
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

#endif
