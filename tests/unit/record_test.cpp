#include "record/record.h"

#include "main/run_record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace {

// The record's "stonewall" line(s), from its key to the key after it.
std::string stonewall_text(const RunRecord& record) {
    const std::string text = format_record(record);
    const size_t from = text.find("\"stonewall\": ");
    const size_t to = text.find(",\n  \"latency\": ", from);
    return from == std::string::npos || to == std::string::npos ? "" : text.substr(from, to - from);
}

TEST(Record, StonewallFiguresAsTheSummaryLinesGiveThem) {
    StonewallRecord reached;
    reached.seconds = 5;
    reached.reached = true;
    reached.wall_mb = 1000;
    reached.wall_ms = 5040;
    reached.wall_mb_s = 198;
    reached.slowest_rank = 1;
    reached.behind_mb = 600;
    reached.total_mb = 1600;
    reached.end_ms = 9000;
    reached.mb_s = 177;
    reached.target_blocks = 800;
    StonewallRecord not_reached;
    not_reached.seconds = 300;
    not_reached.total_mb = 3;
    not_reached.end_ms = 1;
    not_reached.target_blocks = 12;
    const struct {
        const char* what;
        std::optional<StonewallRecord> wall;
        std::string text;
    } cases[] = {
        {"no --seconds", std::nullopt, "\"stonewall\": null"},
        {"reached",
         reached,
         "\"stonewall\": {\"seconds\": 5, \"reached\": true,\n    \"wall_mb\": 1000, \"wall_s\": 5.04, \"wall_mb_s\": "
         "198, \"slowest_rank\": 1, \"behind_mb\": 600,\n    \"total_mb\": 1600, \"end_s\": 9, \"mb_s\": 177, "
         "\"target_blocks\": 800}"},
        {"every rank ended first",
         not_reached,
         "\"stonewall\": {\"seconds\": 300, \"reached\": false,\n    \"wall_mb\": 0, \"wall_s\": 0, \"wall_mb_s\": 0, "
         "\"slowest_rank\": 0, \"behind_mb\": 0,\n    \"total_mb\": 3, \"end_s\": 0.001, \"mb_s\": 0, "
         "\"target_blocks\": 12}"},
    };
    for (const auto& c : cases) {
        RunRecord record;
        record.stonewall = c.wall;
        EXPECT_EQ(stonewall_text(record), c.text) << c.what;
    }
}

}  // namespace

namespace {

namespace fs = std::filesystem;

// The record file's checks, on real folders: the line ends in advice that
// fits the reason, and no ".part" is ever left behind.
TEST(Record, AFileThatCannotBeWrittenIsRefusedWithAdviceThatFitsAndNoPartLeft) {
    const fs::path scratch = fs::temp_directory_path() / ("vorlax_record_test_" + std::to_string(tick_ns()));
    fs::create_directories(scratch / "folder");
    const struct {
        const char* what;
        std::string name;
        std::string advice;  // empty: the record is written
    } cases[] = {
        {"a folder's name", (scratch / "folder").string(), "; name a file, not a folder"},
        {"a missing folder", (scratch / "missing" / "r.json").string(), "; check that its folder exists"},
        {"a file in a folder that exists", (scratch / "r.json").string(), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string probed, written;
        EXPECT_EQ(probe_record_file(c.name, &probed), c.advice.empty());
        EXPECT_EQ(write_record_file(c.name, "{}\n", &written), c.advice.empty());
        for (const std::string& failure : {probed, written}) {
            const size_t head = failure.rfind(c.name + ": cannot write the run record: ", 0);
            EXPECT_EQ(head, c.advice.empty() ? std::string::npos : 0) << failure;
            EXPECT_EQ(failure.size() >= c.advice.size() &&
                          failure.compare(failure.size() - c.advice.size(), c.advice.size(), c.advice) == 0,
                      true)
                << failure;
        }
        for (const auto& entry : fs::recursive_directory_iterator(scratch))
            EXPECT_NE(entry.path().extension(), ".part") << entry.path();
    }
    EXPECT_EQ(fs::file_size(scratch / "r.json"), 3u);
    fs::remove_all(scratch);
}

// A thread that a stop ended before its file's end is "stopped", not
// "completed"; in a run that went to its end nothing changes.
TEST(Record, ThreadsEndedByAStopAreMarkedStopped) {
    const struct {
        const char* what;
        const char* stopped;
        std::vector<std::string> results;  // of threads that did 4, 2 blocks of 4, and one that failed
    } cases[] = {
        {"a run that went to its end", nullptr, {"completed", "completed", "write_failed"}},
        {"a stopped run", "interrupt", {"completed", "stopped", "write_failed"}},
    };
    for (const auto& c : cases) {
        RunRecord record;
        record.stopped = c.stopped;
        record.threads = {{0, "completed", 4, 0, ""}, {1, "completed", 2, 0, ""}, {2, "write_failed", 1, 0, "x"}};
        record.ranks = {RankRecord{0, "h", 0, record.threads}};
        mark_stopped_threads(&record, 4);
        for (const auto& threads : {record.threads, record.ranks[0].threads}) {
            std::vector<std::string> results;
            for (const ThreadRecord& thread : threads) results.push_back(thread.result);
            EXPECT_EQ(results, c.results) << c.what;
        }
    }
}

}  // namespace
