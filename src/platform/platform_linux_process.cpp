// Linux implementation of the process's own services: its arguments, its
// stdout and stderr lines and the signals that ask a run to stop.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

std::vector<std::string> platform_arguments(int argc, const char* const* argv) {
    return std::vector<std::string>(argv, argv + argc);
}

namespace {

// Held around each write to stdout or stderr (one lock for both, as they
// may be one file or terminal).
pthread_mutex_t output_lock = PTHREAD_MUTEX_INITIALIZER;

void write_whole(int fd, const std::string& text) {
    // One write for the whole text, again for what a short write or a
    // signal left over; the lock keeps those parts together.
    pthread_mutex_lock(&output_lock);
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t count = write(fd, data, left);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        data += count;
        left -= static_cast<size_t>(count);
    }
    pthread_mutex_unlock(&output_lock);
}

}  // namespace

void platform_write_stderr(const std::string& text) { write_whole(STDERR_FILENO, text); }

void platform_write_stdout(const std::string& text) { write_whole(STDOUT_FILENO, text); }

namespace {

void (*stop_callback)(StopReason) = nullptr;

// The signals watched: those the program was not started with ignored.
const int stop_signals[] = {SIGINT, SIGTERM};
bool watched[2] = {false, false};
bool keep_watching_stops = false;

void on_stop_signal(int number) {
    const int saved_errno = errno;
    // The next one ends the process: a writer stuck in a write cannot
    // hold the exit up.
    for (int i = 0; i < 2; ++i)
        if (watched[i] && !keep_watching_stops) signal(stop_signals[i], SIG_DFL);
    stop_callback(number == SIGTERM ? StopReason::terminate : StopReason::interrupt);
    errno = saved_errno;
}

}  // namespace

void watch_stop_requests(void (*on_request)(StopReason reason), bool keep_watching) {
    stop_callback = on_request;
    keep_watching_stops = keep_watching;
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    // A write in progress goes on to its end: the writer stops at the block
    // in hand, which it counts.
    action.sa_flags = SA_RESTART;
    // A signal the program was started with ignored (a background job of a
    // shell without job control) stays ignored, as the starter asked.
    for (int i = 0; i < 2; ++i) {
        struct sigaction before {};
        if (sigaction(stop_signals[i], nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        watched[i] = sigaction(stop_signals[i], &action, nullptr) == 0;
    }
}
