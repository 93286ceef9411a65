#include "record/record.h"

#include "output/output.h"
#include "record/json_text.h"
#include "version.h"

namespace {

std::string key(const char* name) { return std::string("\"") + name + "\": "; }

std::string thread_object(const ThreadRecord& thread) {
    return "{" + key("index") + json_count(thread.index) + ", " + key("result") + json_string(thread.result) +
           ", " + key("blocks") + json_count(static_cast<uint64_t>(thread.blocks)) + ", " + key("mb") +
           json_count(thread.mb) + ", " + key("reason") + json_string_or_null(thread.reason) + "}";
}

std::string thread_list(const std::vector<ThreadRecord>& threads, const char* indent) {
    std::string out = "[";
    for (size_t i = 0; i < threads.size(); ++i)
        out += std::string(i ? "," : "") + "\n" + indent + "  " + thread_object(threads[i]);
    return out + (threads.empty() ? "]" : std::string("\n") + indent + "]");
}

std::string who(const TimedBlock& block, bool per_rank) {
    return (per_rank ? key("rank") + json_count(block.rank) + ", " : std::string()) + key("thread") +
           json_count(block.thread) + ", " + key("block") + json_count(static_cast<uint64_t>(block.block));
}

std::string seconds_of(uint64_t ns) { return json_number(static_cast<double>(ns) / 1e9, 3); }

std::string latency_object(const BlockTimes* times, uint32_t stall_ms, bool per_rank) {
    BlockTimes none;
    if (!times) {
        block_times_reset(&none, uint64_t(stall_ms) * 1000000u);
        times = &none;
    }
    const LatencyHistogram& h = times->histogram;
    const bool any = h.blocks > 0;
    auto percentile = [&](double fraction) { return json_ms(latency_percentile_ns(h, fraction), !any); };
    const TimedBlock& slowest = times->slowest;
    std::string out = "{\n    " + key("blocks") + json_count(h.blocks) + ",\n    " + key("min_ms") +
                      json_ms(h.min_ns, !any) + ", " + key("median_ms") + percentile(0.5) + ", " + key("p90_ms") +
                      percentile(0.9) + ", " + key("p99_ms") + percentile(0.99) + ", " + key("p99_9_ms") +
                      percentile(0.999) + ", " + key("max_ms") + json_ms(h.max_ns, !any) + ",\n    " +
                      key("max_at_s") + (any ? seconds_of(slowest.start_ns) : "null") + ", " + key("max_thread") +
                      (any ? json_count(slowest.thread) : "null") + ", " +
                      (per_rank ? key("max_rank") + (any ? json_count(slowest.rank) : "null") + ", " : "") +
                      key("max_block") + (any ? json_count(static_cast<uint64_t>(slowest.block)) : "null") +
                      ",\n    " + key("histogram") + "[";
    bool first = true;
    for (uint32_t bucket = 0; bucket < latency_bucket_count; ++bucket) {
        if (!h.counts[bucket]) continue;
        // The last bucket has no upper edge of its own: the measured maximum bounds it.
        const uint64_t upper = bucket + 1 < latency_bucket_count ? latency_bucket_high_ns(bucket) + 1 : h.max_ns;
        out += std::string(first ? "" : ", ") + "[" + json_ms(upper, false) + ", " + json_count(h.counts[bucket]) + "]";
        first = false;
    }
    const StallList& stalls = times->stalls;
    out += "],\n    " + key("stalls") + "{" + key("threshold_ms") + json_count(stall_ms) + ", " + key("count") +
           json_count(stalls.count) + ", " + key("total_s") + seconds_of(stalls.total_ns) + ", " + key("longest") +
           "[";
    first = true;
    for (const TimedBlock& stall : stalls_longest_first(stalls)) {
        out += std::string(first ? "\n      " : ",\n      ") + "{" + key("at_s") + seconds_of(stall.start_ns) + ", " +
               key("ms") + json_ms(stall.ns, false) + ", " + who(stall, per_rank) + ", " + key("finished") +
               (stall.unfinished ? "false" : "true") + "}";
        first = false;
    }
    return out + (first ? "]}\n  }" : "\n    ]}\n  }");
}

// "null", or the figures as one object.
std::string stonewall_object(const std::optional<StonewallRecord>& wall) {
    if (!wall) return "null";
    auto seconds = [](uint64_t ms) { return json_number(static_cast<double>(ms) / 1000.0, 3); };
    return "{" + key("seconds") + json_count(wall->seconds) + ", " + key("reached") +
           (wall->reached ? "true" : "false") + ",\n    " + key("wall_mb") + json_count(wall->wall_mb) + ", " +
           key("wall_s") + seconds(wall->wall_ms) + ", " + key("wall_mb_s") + json_count(wall->wall_mb_s) + ", " +
           key("slowest_rank") + json_count(wall->slowest_rank) + ", " + key("behind_mb") +
           json_count(wall->behind_mb) + ",\n    " + key("total_mb") + json_count(wall->total_mb) + ", " +
           key("end_s") + seconds(wall->end_ms) + ", " + key("mb_s") + json_count(wall->mb_s) + ", " +
           key("target_blocks") + json_count(static_cast<uint64_t>(wall->target_blocks)) + "}";
}

}  // namespace

std::string utc_text(std::time_t when) {
    char text[32] = "1970-01-01T00:00:00Z";
    if (const std::tm* parts = std::gmtime(&when)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", parts);
    return text;
}

std::string format_record(const RunRecord& record) {
    const RunSettings& settings = record.settings;
    std::string command = "[";
    for (size_t i = 0; i < record.command.size(); ++i) command += (i ? ", " : "") + json_string(record.command[i]);
    command += "]";
    const MachineFacts& machine = record.machine;
    const TargetFacts& target = record.target;
    std::string samples = "[";
    for (size_t i = 0; i < record.samples.size(); ++i) {
        const SampleRecord& sample = record.samples[i];
        samples += std::string(i ? "," : "") + "\n    [" + json_number(sample.seconds, 3) + ", " +
                   json_count(sample.mb) + ", " + json_ms(sample.max_ns, true) + "]";
    }
    samples += record.samples.empty() ? "]" : "\n  ]";
    std::string workers;
    if (record.per_rank) {
        workers = key("ranks") + "[";
        for (size_t i = 0; i < record.ranks.size(); ++i) {
            const RankRecord& rank = record.ranks[i];
            workers += std::string(i ? "," : "") + "\n    {" + key("rank") + json_count(rank.rank) + ", " +
                       key("host") + json_string(rank.host) + ", " + key("mb") + json_count(rank.mb) + ", " +
                       key("threads") + thread_list(rank.threads, "    ") + "}";
        }
        workers += record.ranks.empty() ? "]" : "\n  ]";
    } else {
        workers = key("threads") + thread_list(record.threads, "  ");
    }
    const double rate = record.seconds > 0 ? static_cast<double>(record.total_mb) / record.seconds : 0;
    return "{\n  " + key("record_version") + json_count(record_format_version) + ",\n  " + key("program") +
           json_string(record.program) + ",\n  " + key("version") + json_string(VORLAX_VERSION) + ",\n  " +
           key("command") + command + ",\n  " + key("started") + json_string(record.started) + ",\n  " +
           key("settings") + "{" + key("mode") + (settings.buffered ? "\"B\"" : "\"U\"") + ", " +
           key("path_prefix") + json_string(settings.path_prefix) + ", " +
           key("block_kb") + json_count(settings.buffer_kb) + ", " + key("threads") +
           json_count(settings.thread_count) + ", " + key("file_gb") + json_count(settings.max_gb) + ", " +
           key("stall_ms") + json_count(record.stall_ms) + ", " + key("seconds") +
           (settings.seconds ? json_count(settings.seconds) : "null") + "},\n  " + key("machine") + "{" + key("system") +
           json_string_or_null(machine.system) + ", " + key("kernel") + json_string_or_null(machine.kernel) + ", " +
           key("cpu") + json_string_or_null(machine.cpu) + ", " + key("cores") +
           (machine.cores ? json_count(machine.cores) : "null") + ", " + key("memory_mb") +
           (machine.memory_mb ? json_count(machine.memory_mb) : "null") + "},\n  " + key("target") + "{" +
           key("file_system") + json_string_or_null(target.file_system) + ", " + key("device") +
           json_string_or_null(target.device) + ", " + key("model") + json_string_or_null(target.model) + ", " +
           key("free_mb") + (target.free_known ? json_count(target.free_mb) : "null") + "},\n  " + key("notes") +
           json_string(record.notes) + ",\n  " + key("samples") + samples + ",\n  " + workers + ",\n  " +
           key("total_mb") + json_count(record.total_mb) + ",\n  " + key("seconds") +
           json_number(record.seconds, 3) + ",\n  " + key("mb_s") +
           (record.seconds > 0 ? json_number(rate, 1) : "null") + ",\n  " + key("exit_status") +
           json_count(static_cast<uint64_t>(record.exit_status)) + ",\n  " + key("stopped") +
           (record.stopped ? json_string(record.stopped) : "null") + ",\n  " + key("stonewall") +
           stonewall_object(record.stonewall) + ",\n  " + key("latency") +
           latency_object(record.times, record.stall_ms, record.per_rank) + "\n}\n";
}

std::string record_failure_advice(int error, const std::string& name) {
    if (error && platform_is_folder(error)) return "name a file, not a folder";
    const std::string drive = error && platform_is_missing_file(error) ? platform_missing_drive(name.c_str()) : "";
    if (!drive.empty()) return "drive " + drive + " does not exist: give a path on a drive that exists";
    if (error && platform_is_missing_folder(error)) return "check that its folder exists";
    if (error && platform_is_unread(error)) return "start its reader first";
    if (!error || platform_is_out_of_space(error)) return "free some space or choose another folder";
    return "choose a folder you may write to";
}

namespace {

std::string record_failure(const std::string& name, const std::string& reason, const std::string& advice) {
    return name + ": cannot write the run record: " + reason + "; " + advice;
}

// Writes text to part; false with *error set (0: a short write).
bool write_part(const std::string& part, const std::string& text, int* error) {
    FileHandle file = file_create(part.c_str(), true, error, nullptr);
    if (file == invalid_file) return false;
    size_t written = 0;
    const bool whole = file_write(file, text.data(), text.size(), &written, error) && written == text.size();
    file_close(file);
    return whole;
}

}  // namespace

std::string record_refusal(const std::string& name, const EntryFacts& facts) {
    const std::string where = " in " + facts.foreign.folder + ", a sticky folder, ";
    if (facts.foreign.kind == ForeignKind::link)
        return record_failure(name, "it is a symbolic link of user " + facts.foreign.owner + where +
                                        "where another user could aim it at any file",
                              "choose another name");
    if (facts.foreign.kind == ForeignKind::file)
        return record_failure(name, "the file belongs to another user (" + facts.foreign.owner + ")" + where +
                                        "where only its owner may replace it",
                              "choose another name");
    if (facts.kind == EntryKind::folder) return record_failure(name, "it is a folder", "name a file, not a folder");
    if (facts.kind == EntryKind::block_device)
        return record_failure(name, "it is a block device, which the record would overwrite from its first byte",
                              "name a file");
    return std::string();
}

bool probe_record_file(const std::string& name, std::string* failure) {
    const EntryFacts facts = entry_facts(name.c_str());
    *failure = record_refusal(name, facts);
    if (!failure->empty()) return false;
    // A device or FIFO is written into as it is: opening one now would
    // show a FIFO's reader an end.
    if (facts.kind == EntryKind::stream) return true;
    // The part goes beside the file a link leads to, and is renamed onto it.
    const std::string part = facts.target + ".part";
    int error = 0;
    FileHandle file = file_create(part.c_str(), true, &error, nullptr);
    if (file == invalid_file) {
        *failure = record_failure(name, platform_error_text(error), record_failure_advice(error, name));
        return false;
    }
    file_close(file);
    file_remove(part.c_str());
    return true;
}

bool write_record_file(const std::string& name, const std::string& text, std::string* failure) {
    const EntryFacts facts = entry_facts(name.c_str());
    int error = 0;
    if (facts.kind == EntryKind::stream) {
        const FileHandle stream = file_open_stream(name.c_str(), &error);
        size_t written = 0;
        const bool whole = stream != invalid_file && file_write(stream, text.data(), text.size(), &written, &error) &&
                           written == text.size();
        if (stream != invalid_file) file_close(stream);
        if (whole) return true;
    } else {
        const std::string part = facts.target + ".part";
        if (write_part(part, text, &error) && file_replace(part.c_str(), facts.target.c_str(), &error)) return true;
        // Nothing is left behind: the part may have been made before the failure.
        file_remove(part.c_str());
    }
    *failure = record_failure(name, error ? platform_error_text(error) : std::string("the write came back short"),
                              record_failure_advice(error, name));
    return false;
}
