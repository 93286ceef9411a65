// What writer and reader share: the job a driver hands a worker thread, the
// layout of its test file, and the steps around its block loop.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "monitor/run_counters.h"
#include "platform/platform.h"
#include "settings/settings.h"

// What a worker's block loop came to, as the last step of its hook hears
// it (WorkerHook::after_last_block).
struct WorkerEnd {
    FileHandle file = invalid_file;  // still open; invalid_file: the loop was never reached
    int64_t blocks = 0;              // whole blocks done
    const char* failure = nullptr;   // why it fell short, in a few words; nullptr: it did not
    int error = 0;                   // the system's code for the failure, or 0
    bool flush_failed = false;       // set by the step when its flush failed for a worker that had not
};

// Steps a driver adds around every worker's block loop (vorlax and
// vorlax-read add none; vorlax-mpi's writers, mpi_writers.h). All run on
// the worker's thread, but for a thread that never started.
struct WorkerHook {
    void* context = nullptr;
    // Null, or: with file and buffer in hand, past the start gate, just
    // before the first block.
    void (*before_first_block)(void* context, uint32_t thread_index) = nullptr;
    // Null, or: once per worker, after its last block with end->file still
    // open; or, with end->file invalid_file, in place of the loop of a
    // worker that never reached it (end->failure says why). May flush the
    // file and set end->flush_failed and end->error.
    void (*after_last_block)(void* context, uint32_t thread_index, WorkerEnd* end) = nullptr;
    // Null, or: for a worker that the run's stop request stopped after
    // blocks whole blocks, the count of blocks to end with: blocks to end
    // there, more to go on to (up to the layout's count) once the request
    // is withdrawn. May wait. vorlax-mpi's wear-out.
    int64_t (*blocks_after_stop)(void* context, uint32_t thread_index, int64_t blocks) = nullptr;
};

// Why a worker whose thread could not be started fell short, in a few words.
constexpr const char* thread_not_started_words = "cannot start its thread";

// The start gate of a run: every worker, file and buffer in hand, waits
// here until the driver opens it, so that no block is done before the
// run's clock starts. The driver:
//     StartGate gate;  gate.open = signal_create();
//     options.gate = &gate;  ...start the workers...
//     const uint64_t start_tick = gate_start_clock(&gate, thread_count);
// and a worker that ends before the gate (no thread, file or buffer) is
// counted as arrived, so the driver never waits for it.
struct StartGate {
    std::atomic<int32_t> arrived{0};  // workers waiting, or ended before they could
    DoneSignal* open = nullptr;       // set once by the driver: go
    uint64_t start_ns = 0;            // tick_ns() at the start tick, for the blocks' start times
};

// What a driver sets for every worker of a run.
struct WorkerOptions {
    const char* message_head = "";          // "<program>: ", heads its line on stderr
    bool print_completion = true;           // "thread N done! K" on stdout
    const WorkerHook* hook = nullptr;       // steps around the block loop; none: no steps
    StartGate* gate = nullptr;              // held there before the first block; none: no wait
    uint32_t files_found = 0;               // vorlax-read: test files from _00 on that exist; 0 not counted
};

// The start argument of one worker thread (a writer or a reader).
struct WorkerJob {
    uint32_t thread_index;
    const RunSettings* settings;
    RunCounters* counters;
    WorkerOptions options{};
};

// One test file as a worker takes it on: what the run's settings say it is.
struct WorkerLayout {
    uint32_t thread_index;
    std::string name;  // empty when it would pass the system's limit
    int64_t block_count;
    uint32_t buffer_kb;
    bool buffered;
    uint32_t max_gb = 0;  // the run's size per file, which block_count comes from
    WorkerOptions options{};
};

// The layout of job's test file, from the job's settings and options.
WorkerLayout worker_layout(const WorkerJob& job);

// Bytes in one block of layout.
inline size_t block_bytes_of(const WorkerLayout& layout) { return static_cast<size_t>(layout.buffer_kb) * 1024u; }

// ---- Owners: each releases what it holds when it goes out of scope ---------

// An open file (or invalid_file); closed at the end of its scope.
struct OpenFile {
    FileHandle handle = invalid_file;
    explicit OpenFile(FileHandle file = invalid_file) : handle(file) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (handle != invalid_file) file_close(handle);
    }
};

// A worker's block buffer from pages_alloc (bytes null when none); freed at
// the end of its scope.
struct BlockBuffer {
    unsigned char* bytes = nullptr;
    size_t size_bytes = 0;
    BlockBuffer(const BlockBuffer&) = delete;
    BlockBuffer& operator=(const BlockBuffer&) = delete;
    // Takes size bytes of pages (none for 0); on failure bytes stays null and
    // *error says why.
    BlockBuffer(size_t size, int* error)
        : bytes(size ? static_cast<unsigned char*>(pages_alloc(size, error)) : nullptr), size_bytes(size) {}
    ~BlockBuffer() {
        if (bytes) pages_free(bytes, size_bytes);
    }
};

// A DoneSignal, made at once and destroyed at the end of its scope.
struct OwnedSignal {
    DoneSignal* signal = signal_create();
    OwnedSignal() = default;
    OwnedSignal(const OwnedSignal&) = delete;
    OwnedSignal& operator=(const OwnedSignal&) = delete;
    ~OwnedSignal() { signal_destroy(signal); }
};

// ---- The steps around the block loop ---------------------------------------

// Just before the first block, with file and buffer in hand: waits at the
// layout's start gate (if any), then runs its hook's first step (if any).
void worker_before_loop(const WorkerLayout& layout);

// After the last block (end->file open), or in place of the loop
// (end->file invalid_file): runs the layout's hook's last step, if any.
void worker_after_loop(const WorkerLayout& layout, WorkerEnd* end);

// For a worker stopped by the run's stop request after blocks whole
// blocks: the count to end with, from the layout's hook (blocks when it has
// none). See WorkerHook::blocks_after_stop.
int64_t worker_blocks_after_stop(const WorkerLayout& layout, int64_t blocks);

// A worker that ends before its loop (no thread, file or buffer; failure
// says why): counts itself in at the start gate without waiting and tells
// the hook's last step, so that nothing waits for it.
void worker_stopped_before_start(const WorkerLayout& layout, const char* failure, int error);

// After the block loop: prints the completion line (blocks whole blocks)
// when the layout asks for it. File and buffer are their owners' to free.
void worker_print_done(const WorkerLayout& layout, int64_t blocks);

// A worker's last steps: keeps result (its name in the run record), its
// whole blocks and failure_line in its slot, prints failure_line (unless
// empty) on stderr and counts the worker in failed_threads, then counts it
// out of active_threads, setting all_done when it was the last. After this
// the run may end.
void worker_finish(RunCounters* counters, uint32_t thread_index, const char* result, int64_t blocks,
                   const std::string& failure_line);

// ---- The start gate ---------------------------------------------------------

// The driver, after starting workers threads: waits until every one of
// them has reached the gate or skipped it, or until a stop is requested
// (run_stop_requested: a worker may hang in its open), runs between(context) (if
// given: vorlax-mpi's barrier across ranks), takes the run's start tick,
// opens the gate and returns the tick. No block is counted before it.
uint64_t gate_start_clock(StartGate* gate, int32_t workers, void (*between)(void* context) = nullptr,
                          void* context = nullptr);
