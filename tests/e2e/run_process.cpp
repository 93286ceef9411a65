#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace {

void drain(int fd, std::string* into, bool* open) {
    char chunk[65536];
    ssize_t count = read(fd, chunk, sizeof chunk);
    if (count > 0)
        into->append(chunk, static_cast<size_t>(count));
    else if (count == 0 || errno != EINTR)
        *open = false;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const std::string& cwd) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
    pid_t child = fork();
    if (child == 0) {
        int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    ProcessResult result;
    bool out_open = true, err_open = true;
    while (out_open || err_open) {
        pollfd fds[2] = {{out_open ? out_pipe[0] : -1, POLLIN, 0}, {err_open ? err_pipe[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[0].revents) drain(out_pipe[0], &result.out, &out_open);
        if (fds[1].revents) drain(err_pipe[0], &result.err, &err_open);
    }
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    struct rusage usage {};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.peak_rss_kb = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
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
