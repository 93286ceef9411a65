// The monitor loop on a clock the test owns: a scripted run whose workers
// end at set times, so every line's time and total is known exactly and no
// thread, sleep or real clock is involved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "monitor/monitor.h"
#include "output/output.h"

namespace {

// A run that counts kb_per_ms from 0 until its last worker ends at end_ms.
// Waits jump the clock: to the due tick, or to end_ms when that comes first,
// then late_ms more, as on a busy machine.
struct ClockedRun {
    uint64_t end_ms;
    uint64_t kb_per_ms;
    uint64_t late_ms;
    uint64_t now_ms = 0;
    std::vector<std::string> lines;
    uint64_t count_until_ms = UINT64_MAX;  // counting stops here, the workers end at end_ms
    uint64_t block_ms = 0;                 // once a stop is requested, the workers end this much later
};

uint64_t counted_ms(const ClockedRun& run) { return std::min({run.now_ms, run.end_ms, run.count_until_ms}); }

bool is_running(const ClockedRun& run) { return run.now_ms < run.end_ms; }

MonitorSource clocked_source(ClockedRun* run, const char* verb) {
    MonitorSource source{
        run,
        [](void* context, uint64_t due_tick) {
            auto* r = static_cast<ClockedRun*>(context);
            if (run_stop_requested()) r->end_ms = std::min(r->end_ms, r->now_ms + r->block_ms);
            if (is_running(*r)) r->now_ms = std::min(due_tick, r->end_ms) + r->late_ms;
        },
        [](void* context) {
            auto* r = static_cast<ClockedRun*>(context);
            return MonitorTotals{is_running(*r), counted_ms(*r) * r->kb_per_ms};
        },
        [](void* context, const std::string& line) { static_cast<ClockedRun*>(context)->lines.push_back(line); },
        verb};
    source.now_ms = [](void* context) { return static_cast<ClockedRun*>(context)->now_ms; };
    return source;
}

// "<seconds>.<ms> <MB>" from a progress line, to compare in one string.
std::string time_and_mb(const std::string& line) {
    int seconds = -1, ms = -1, mb = -1;
    char verb[16] = {};
    if (std::sscanf(line.c_str(), "%d.%d: %d MB %15[a-z],", &seconds, &ms, &mb, verb) != 4) return "bad: " + line;
    char text[64];
    std::snprintf(text, sizeof text, "%d.%03d %d %s", seconds, ms, mb, verb);
    return text;
}

TEST(Monitor, LinesComeEachSecondAndTheLastAtTheEndWithTheExactTotal) {
    const struct {
        const char* what;
        uint64_t end_ms, kb_per_ms, late_ms;
        bool line_if_counted;
        std::vector<std::string> lines;  // time, MB and verb of each line
        uint64_t count_until_ms = UINT64_MAX;
    } cases[] = {
        {"the first line at 1 s, the last as the last worker ends", 3500, 1024, 0, false,
         {"1.000 1000 written", "2.000 2000 written", "3.000 3000 written", "3.500 3500 written"}},
        {"an end on a whole second gets one line, not two", 2000, 1024, 0, false,
         {"1.000 1000 written", "2.000 2000 written"}},
        {"a run shorter than a second: its one line at its end", 250, 4096, 0, false, {"0.250 1000 written"}},
        {"late wakes: the next line a second after the previous one, the total exact", 2500, 1024, 300, false,
         {"1.300 1300 written", "2.600 2500 written"}},
        {"none runs at the first look: no line", 0, 1024, 0, false, {}},
        {"none runs and nothing counted: no line, even for vorlax-read", 0, 0, 0, true, {}},
        {"the last line held the final total already: the end repeats it not", 2500, 1024, 0, false,
         {"1.000 1000 written", "2.000 1800 written"}, 1800},
        {"workers that fail after the first look, nothing counted: no line", 300, 0, 0, false, {}},
        {"nothing counted, the end after a line: that line is the last", 1500, 0, 0, false, {"1.000 0 written"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ClockedRun run{c.end_ms, c.kb_per_ms, c.late_ms, 0, {}, c.count_until_ms};
        const MonitorTotals last = run_monitor(clocked_source(&run, "written"), 0, c.line_if_counted);
        EXPECT_FALSE(last.running);
        EXPECT_EQ(last.total_kb, std::min(c.end_ms, c.count_until_ms) * c.kb_per_ms);
        std::vector<std::string> got;
        for (const std::string& line : run.lines) got.push_back(time_and_mb(line));
        EXPECT_EQ(got, c.lines);
    }
}

// vorlax-read's rule: workers that all ended before the monitor's first look
// still get a last line with the whole total; vorlax keeps to no line.
TEST(Monitor, ReadersThatEndBeforeTheFirstLookStillGetTheirTotal) {
    for (const bool line_if_counted : {true, false}) {
        ClockedRun run{0, 0, 0, 40, {}};  // the readers ended 40 ms after the start
        MonitorSource source = clocked_source(&run, "read");
        source.sample = [](void*) { return MonitorTotals{false, 3u << 20}; };
        const MonitorTotals last = run_monitor(source, 0, line_if_counted);
        EXPECT_EQ(last.total_kb, 3u << 20);
        const std::vector<std::string> expected =
            line_if_counted ? std::vector<std::string>{"0.040 3072 read"} : std::vector<std::string>{};
        std::vector<std::string> got;
        for (const std::string& line : run.lines) got.push_back(time_and_mb(line));
        EXPECT_EQ(got, expected) << "line_if_counted " << line_if_counted;
    }
}

// --seconds: the monitor wakes at the deadline, between two lines, and
// requests the stop there; the workers end with the block in hand.
TEST(Monitor, ADeadlineStopsTheRunWithinOneBlock) {
    const struct {
        const char* what;
        uint64_t deadline_ms, end_ms, late_ms;
        std::vector<std::string> lines;
        bool stopped;
    } cases[] = {
        {"between two lines", 2500, 10000, 0, {"1.000 1000 written", "2.000 2000 written", "2.540 2540 written"}, true},
        {"on a line's tick", 2000, 10000, 0, {"1.000 1000 written", "2.000 2000 written", "2.040 2040 written"}, true},
        {"a late wake", 1500, 10000, 100, {"1.100 1100 written", "1.740 1640 written"}, true},
        {"the run ends first", 5000, 1500, 0, {"1.000 1000 written", "1.500 1500 written"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ClockedRun run{c.end_ms, 1024, c.late_ms, 0, {}};
        run.block_ms = 40;
        MonitorSource source = clocked_source(&run, "written");
        source.deadline_tick = c.deadline_ms;
        run_monitor(source, 0);
        std::vector<std::string> got;
        for (const std::string& line : run.lines) got.push_back(time_and_mb(line));
        EXPECT_EQ(got, c.lines);
        EXPECT_EQ(run_stop_reason(), c.stopped ? StopReason::deadline : StopReason::none);
        withdraw_run_stop(StopReason::deadline);
    }
}

// A last line in the same millisecond as the line before (workers that
// ended just after it) is no interval of its own: the record's sample
// before takes its total. The lines stay as they are.
TEST(Monitor, ALastLineInTheSameMillisecondJoinsTheSampleBefore) {
    struct Script {
        uint64_t end_ms;  // the last look: the workers ended, 1 MB more
        int looks = 0;
        std::string lines;
    };
    const struct {
        uint64_t end_ms;
        std::string samples;
    } cases[] = {{1000, "1.000 1025; "}, {1001, "1.000 1024; 1.001 1025; "}};
    for (const auto& c : cases) {
        Script script{c.end_ms, 0, {}};
        // Looks: at the start, at 1 s (1024 MB), at end_ms (1025 MB, ended).
        MonitorSource source{&script, [](void*, uint64_t) {},
                             [](void* context) {
                                 const int look = static_cast<Script*>(context)->looks++;
                                 return MonitorTotals{look < 2, look == 0 ? 0u : (1023u + look) << 10};
                             },
                             [](void* context, const std::string& line) {
                                 static_cast<Script*>(context)->lines += time_and_mb(line) + "; ";
                             },
                             "written"};
        source.now_ms = [](void* context) {
            auto* s = static_cast<Script*>(context);
            return s->looks < 3 ? uint64_t{1000} : s->end_ms;
        };
        std::vector<SampleRecord> samples;
        run_monitor(source, 0, false, &samples);
        std::string recorded;
        for (const SampleRecord& sample : samples)
            recorded += format_text("%.3f %llu; ", sample.seconds, static_cast<unsigned long long>(sample.mb));
        EXPECT_EQ(recorded, c.samples) << c.end_ms;
        EXPECT_EQ(script.lines, format_text("1.000 1024 written; %.3f 1025 written; ", c.end_ms / 1000.0));
    }
}

}  // namespace
