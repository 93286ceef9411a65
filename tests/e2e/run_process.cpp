#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>

namespace {

// Reads what fd holds into *into; closes fd (and sets it to -1) at its end.
void drain(int* fd, std::string* into) {
    char chunk[65536];
    ssize_t count = read(*fd, chunk, sizeof chunk);
    if (count > 0) {
        into->append(chunk, static_cast<size_t>(count));
    } else if (count == 0 || errno != EINTR) {
        close(*fd);
        *fd = -1;
    }
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const std::string& cwd) {
    StartedProcess process(argv, cwd);
    return process.finish();
}

StartedProcess::StartedProcess(const std::vector<std::string>& argv, const std::string& cwd) {
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) std::abort();
    pid_ = fork();
    if (pid_ < 0) std::abort();
    if (pid_ == 0) {
        setpgid(0, 0);
        // Start as from a terminal, whatever the test runner blocked or
        // ignored (a job started in the background ignores Ctrl-C; some
        // runners ignore SIGPIPE): the tests pin what a user sees.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    setpgid(pid_, pid_);  // also here, so kill_group works before the child runs
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
}

StartedProcess::~StartedProcess() {
    if (pid_ < 0) return;
    kill_group(SIGKILL);
    finish();
}

void StartedProcess::read_available(int timeout_ms) {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (poll(fds, 2, timeout_ms) <= 0) return;
    if (fds[0].revents) drain(&out_fd_, &result_.out);
    if (fds[1].revents) drain(&err_fd_, &result_.err);
}

bool StartedProcess::read_until(const std::function<bool(const ProcessResult&)>& ready, int limit_s) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(limit_s);
    while (!ready(result_)) {
        if ((out_fd_ < 0 && err_fd_ < 0) || std::chrono::steady_clock::now() > give_up) return ready(result_);
        read_available(20);
    }
    return true;
}

void StartedProcess::kill_group(int sig) {
    if (pid_ > 0) kill(-pid_, sig);
}

ProcessResult StartedProcess::finish() {
    if (pid_ < 0) return result_;
    while (out_fd_ >= 0 || err_fd_ >= 0) read_available(-1);
    int status = 0;
    struct rusage usage {};
    while (wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    result_.peak_rss_kb = usage.ru_maxrss;
    if (WIFEXITED(status)) result_.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
    return result_;
}

std::vector<std::string> vorlax_command() {
    std::vector<std::string> command;
    if (const char* wrapper = std::getenv("VORLAX_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string word; words >> word;) command.push_back(word);
    }
    const char* exe = std::getenv("VORLAX_EXE");
    command.push_back(exe && *exe ? exe : VORLAX_BUILT_EXE);
    return command;
}

std::vector<std::string> companion_command(const std::string& name) {
    std::vector<std::string> command = vorlax_command();
    std::string& exe = command.back();
    const size_t base = exe.find_last_of("/\\") + 1;
    const size_t dot = exe.rfind(".exe");
    const std::string suffix = dot != std::string::npos && dot >= base ? exe.substr(dot) : std::string();
    exe = exe.substr(0, base) + name + suffix;
    return command;
}
