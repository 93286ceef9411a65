// The run record that --json FILE writes (docs/record.md): its contents as
// plain records, the JSON text made of them, and the file.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "latency/latency.h"
#include "platform/platform.h"
#include "settings/settings.h"

// The format's version, record_version in the record.
constexpr int record_format_version = 1;

struct ThreadRecord {
    uint32_t index = 0;
    std::string result;  // "completed", "write_failed"...
    int64_t blocks = 0;  // whole blocks written or read
    uint64_t mb = 0;     // those blocks in whole MB
    std::string reason;  // its line on stderr; empty: null
};

struct RankRecord {
    uint32_t rank = 0;
    std::string host;
    uint64_t mb = 0;
    std::vector<ThreadRecord> threads;
};

// One progress line: its time, its MB, and the slowest block since the
// line before (0: none, or not timed: null).
struct SampleRecord {
    double seconds;
    uint64_t mb;
    uint64_t max_ns;
};

// vorlax-mpi --seconds: the stonewall and wear-out figures as its two
// summary lines print them (whole MB, milliseconds, whole MB/s).
struct StonewallRecord {
    uint32_t seconds = 0;       // S of --seconds
    bool reached = false;       // a rank was stopped at the deadline
    uint64_t wall_mb = 0;       // all ranks at the stonewall
    uint64_t wall_ms = 0;
    uint64_t wall_mb_s = 0;
    uint32_t slowest_rank = 0;  // fewest MB at the stonewall
    uint64_t behind_mb = 0;     // how far it was behind the fastest
    uint64_t total_mb = 0;      // with the wear-out
    uint64_t end_ms = 0;        // to the last rank's end
    uint64_t mb_s = 0;
    int64_t target_blocks = 0;  // every file written on to this count
};

struct RunRecord {
    const char* program = "vorlax";
    std::vector<std::string> command;
    std::string started;  // utc_text of the start
    RunSettings settings;
    uint32_t stall_ms = 100;
    MachineFacts machine;
    TargetFacts target;
    std::string notes;
    std::vector<SampleRecord> samples;
    bool per_rank = false;  // ranks (vorlax-mpi) in place of threads
    std::vector<ThreadRecord> threads;
    std::vector<RankRecord> ranks;
    uint64_t total_mb = 0;
    double seconds = 0;
    int exit_status = 0;
    const char* stopped = nullptr;  // null, "interrupt", "terminate"
    BlockTimes* times = nullptr;    // merged, start times relative to the run's start
    std::optional<StonewallRecord> stonewall;  // none: no --seconds, or no rank wrote
};

// when as "2026-12-08T01:40:12Z" (UTC).
std::string utc_text(std::time_t when);

// The record as one JSON object, keys in the order docs/record.md lists
// them, ending in a line end. Pure.
std::string format_record(const RunRecord& record);

// What to try when the record name cannot be written for the system's
// error (0: a short write): "check that its folder exists"..., "drive Q:
// does not exist..." for a name on a drive that is not there.
std::string record_failure_advice(int error, const std::string& name);

// Why no record may go to name as facts (entry_facts) describe it, as a
// line for stderr ("<name>: cannot write the run record: <why>; <what to
// try>"): a folder, a block device, another user's link or file in a
// sticky folder; "" when it may. Pure.
std::string record_refusal(const std::string& name, const EntryFacts& facts);

// Checks before a run that a record can be written to name: refuses what
// record_refusal refuses, and, unless name is a device or FIFO, creates
// and removes a ".part" beside the file it names (a link's target), so
// that a missing or unwritable folder is found before the first byte.
// Returns false with a line for stderr in *failure, as write_record_file's.
bool probe_record_file(const std::string& name, std::string* failure);

// Writes text to name through a ".part" beside the file it names (a
// link's target) and a rename onto that file, so that it never holds part
// of a record; on failure the part is removed. A device or FIFO is written
// into as it is, never replaced; a FIFO no one reads is a failure at once. Returns
// false with a line for stderr in *failure ("<name>: <reason>; <what to
// try>") when it cannot.
bool write_record_file(const std::string& name, const std::string& text, std::string* failure);
