// The platform layer with scripted outcomes: no file is touched; memory,
// threads, time and the signal are real enough for the logic to run.
#include "fake_platform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/platform.h"

FakeScript fake_script;
FakeLog fake_log;

namespace {
std::mutex fake_log_lock;  // many workers may log at once
}  // namespace

void fake_reset(const FakeScript& script) {
    fake_script = script;
    fake_log = FakeLog{};
}

const char* const platform_default_prefix = "./";
const size_t platform_max_path_bytes = 4096;
const char* const platform_name_forbidden_chars = "";
const char* const platform_short_write_causes = "the disk may be full or a file size limit reached";
NameLengthLimit platform_name_length_limit(const std::string& name) {
    if (name.size() >= platform_max_path_bytes) return {"a whole path", name.size(), platform_max_path_bytes - 1};
    return {};
}
const char* const platform_device_log = "the kernel's log (journalctl -k or dmesg)";
const PlatformHelpWords platform_help_words = {"/mnt/ssd/run", "/", "rm", "O_DIRECT", "man %s", "--help", ""};

void platform_init_process() {}

std::vector<std::string> platform_arguments(int argc, const char* const* argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void platform_write_stderr(const std::string& text) { std::fputs(text.c_str(), stderr); }

void platform_write_stdout(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void watch_stop_requests(void (*)(StopReason), bool) {}

std::string platform_error_text(int error) { return std::strerror(error); }

bool platform_is_unbuffered_refusal(int error) { return error == fake_refusal_error; }

bool platform_is_missing_folder(int error) { return error == ENOENT; }

bool platform_is_read_only_volume(int error) { return error == EROFS; }

bool platform_is_missing_file(int error) { return error == ENOENT; }

bool platform_is_folder(int error) { return error == EISDIR; }

const char* platform_not_a_file_kind(int error) {
    return error == EISDIR ? "a folder" : error == ESPIPE ? "a FIFO" : nullptr;
}

bool platform_is_out_of_space(int error) { return error == ENOSPC; }

std::string platform_missing_drive(const char*) { return std::string(); }

FileHandle file_create(const char*, bool buffered, int* error, ForeignEntry*) {
    std::lock_guard<std::mutex> hold(fake_log_lock);
    fake_log.last_open_buffered = buffered;
    if (fake_script.open_error != 0) {
        *error = fake_script.open_error;
        return invalid_file;
    }
    ++fake_log.files_open;
    return 7;
}

bool file_write(FileHandle, const void* data, size_t bytes, size_t* written, int* error) {
    std::lock_guard<std::mutex> hold(fake_log_lock);
    const auto* bytes_in = static_cast<const unsigned char*>(data);
    bool uniform = true;
    for (size_t i = 1; uniform && i < bytes; ++i) uniform = bytes_in[i] == bytes_in[0];
    fake_log.fill_of_write.push_back(bytes ? bytes_in[0] : 0);
    fake_log.write_uniform.push_back(uniform);
    const bool faulty = fake_log.write_calls++ == fake_script.fault_at_write;
    if (faulty && fake_script.fault == FakeWrite::failed) {
        *written = 0;
        *error = fake_script.write_error;
        return false;
    }
    *written = faulty && fake_script.fault == FakeWrite::short_write ? fake_script.short_bytes : bytes;
    *error = 0;
    return true;
}

uint32_t file_unbuffered_alignment_bytes(FileHandle) { return fake_script.alignment_bytes; }

bool file_sync(FileHandle, int* error) {
    ++fake_log.syncs;
    if (fake_script.sync_error == 0) return true;
    *error = fake_script.sync_error;
    return false;
}

FileHandle file_open_read(const char* name, bool buffered, int* error, ForeignEntry* foreign) {
    return file_create(name, buffered, error, foreign);
}

bool file_read_at(FileHandle, void* data, size_t bytes, uint64_t offset, size_t* got, int* error) {
    const std::vector<uint64_t>& failed = fake_script.failed_reads;
    *error = std::find(failed.begin(), failed.end(), offset) != failed.end() ? fake_script.read_error : 0;
    *got = *error ? 0 : static_cast<size_t>(std::min<uint64_t>(bytes, fake_script.read_file_bytes - offset));
    std::memset(data, static_cast<int>((offset / bytes) & 0xFF), *got);
    for (const auto& hole : fake_script.holes) {  // holes read as zeros
        const uint64_t from = std::max(hole.first, offset), to = std::min(hole.second, offset + *got);
        if (from < to) std::memset(static_cast<unsigned char*>(data) + (from - offset), 0, to - from);
    }
    return *error == 0;
}

bool file_next_hole(FileHandle, uint64_t from_bytes, uint64_t end_bytes, ByteRange* hole) {
    for (const auto& range : fake_script.holes)
        if (range.second > from_bytes && range.first < end_bytes) {
            *hole = ByteRange{std::max(range.first, from_bytes), std::min(range.second, end_bytes)};
            return true;
        }
    return false;
}

bool file_size_bytes(FileHandle, uint64_t* bytes, int*) {
    *bytes = fake_script.read_file_bytes;
    return true;
}

bool file_drop_cached_pages(const char*, int*) { return true; }

CacheResidency file_cache_residency(const char*) { return CacheResidency::unknown; }

void file_close(FileHandle) {
    std::lock_guard<std::mutex> hold(fake_log_lock);
    --fake_log.files_open;
}

bool folder_is_memory_backed(const char*) { return false; }

bool path_is_folder(const char*) { return false; }

FolderCompression folder_compression(const char*) { return {}; }

void* pages_alloc(size_t bytes, int* error) {
    std::lock_guard<std::mutex> hold(fake_log_lock);
    if (fake_script.alloc_error != 0) {
        *error = fake_script.alloc_error;
        return nullptr;
    }
    ++fake_log.buffers_held;
    return std::aligned_alloc(4096, (bytes + 4095) / 4096 * 4096);
}

void pages_free(void* pages, size_t) {
    std::lock_guard<std::mutex> hold(fake_log_lock);
    --fake_log.buffers_held;
    std::free(pages);
}

uint64_t available_memory_bytes() { return 0; }

uint64_t memory_for_files_bytes() { return 0; }

uint64_t folder_free_bytes(const char*) { return 0; }

bool thread_start(ThreadRoutine routine, void* arg, ThreadHandle* thread, int*) {
    thread->value = reinterpret_cast<uintptr_t>(new std::thread(routine, arg));
    sleep_ms(fake_script.thread_start_delay_ms);
    return true;
}

void thread_join(ThreadHandle thread) {
    auto* running = reinterpret_cast<std::thread*>(thread.value);
    running->join();
    delete running;
}

uint64_t tick_ms() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t tick_ns() { return tick_ms() * 1000000u; }

BlockClockScale block_clock_start() { return BlockClockScale{0, 0, uint64_t(1) << 32}; }

uint64_t block_clock_now() { return tick_ns(); }

MachineFacts machine_facts() { return {}; }

TargetFacts target_facts(const char*) { return {}; }

bool file_replace(const char*, const char*, int* error) {
    *error = EACCES;
    return false;
}

void sleep_ms(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct DoneSignal {
    std::mutex lock;
    std::condition_variable changed;
    bool set = false;
};

DoneSignal* signal_create() { return new DoneSignal; }

void signal_set(DoneSignal* signal) {
    std::lock_guard<std::mutex> hold(signal->lock);
    signal->set = true;
    signal->changed.notify_all();
}

bool signal_wait_ms(DoneSignal* signal, uint32_t timeout_ms) {
    std::unique_lock<std::mutex> hold(signal->lock);
    return signal->changed.wait_for(hold, std::chrono::milliseconds(timeout_ms), [signal] { return signal->set; });
}

void signal_destroy(DoneSignal* signal) { delete signal; }
