#include "record/record.h"

#include <gtest/gtest.h>

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
