#include "mpi/mpi_summary.h"

#include "output/output.h"
#include "progress/progress.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <set>

namespace {

// "12.345 s" from milliseconds, or "12.345 ms" from microseconds.
std::string thousandths(uint64_t value, const char* unit) {
    return thousandths_text(value) + " " + unit;
}

std::string rank_name(const RankRow& row) { return format_text("rank %u on %s", row.rank, row.host); }

// text as one word for a POSIX shell: as it is when it needs no quotes.
std::string shell_word(const std::string& text) {
    const char* const plain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./:-+=,@%";
    if (!text.empty() && text.find_first_not_of(plain) == std::string::npos) return text;
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

uint64_t mb_per_s(uint64_t kb, uint64_t span_ms) { return span_ms ? rate_mb_per_s(kb >> 10, span_ms) : 0; }

uint64_t rank_mb_per_s(const RankRow& row) { return mb_per_s(row.total_kb, row.span_ms); }

bool rank_wrote(const RankRow& row) { return row.total_kb > 0; }

RunFigures run_figures(const std::vector<RankRow>& rows) {
    RunFigures figures{0, 0, rows.front().span_ms, 0, 0, 0, rows.front().barrier_us, 0, 0};
    for (size_t i = 0; i < rows.size(); ++i) {
        const RankRow& row = rows[i];
        figures.total_kb += row.total_kb;
        figures.kb_at_first_end += row.kb_at_first_end;
        figures.first_end_ms = std::min(figures.first_end_ms, row.span_ms);
        figures.last_end_ms = std::max(figures.last_end_ms, row.span_ms);
        figures.start_uncertainty_us = std::min(figures.start_uncertainty_us, row.barrier_us);
        figures.durable_ms = std::max(figures.durable_ms, row.durable_ms);
        figures.longest_flush_ms = std::max(figures.longest_flush_ms, row.longest_flush_ms);
        if (rank_mb_per_s(row) < rank_mb_per_s(rows[figures.slowest])) figures.slowest = i;
        if (rank_mb_per_s(row) > rank_mb_per_s(rows[figures.fastest])) figures.fastest = i;
    }
    return figures;
}

std::string mpi_banner(const RunSettings& settings, uint32_t ranks, uint32_t hosts) {
    return banner_words(settings) + format_text(", on %u ranks of %u hosts\n", ranks, hosts);
}

uint32_t count_hosts(const std::vector<std::string>& hosts) {
    return static_cast<uint32_t>(std::set<std::string>(hosts.begin(), hosts.end()).size());
}

std::string mpi_completion_line(uint32_t rank, uint32_t thread_index, int64_t blocks) {
    return format_text("rank %u thread %u done! %" PRId64 "\n", rank, thread_index, blocks);
}

std::vector<std::string> summary_lines(const std::vector<RankRow>& rows, bool buffered) {
    std::vector<std::string> lines;
    std::vector<RankRow> wrote;
    for (const RankRow& row : rows) {
        if (!rank_wrote(row)) {
            lines.push_back("failed: " + rank_name(row) + ": " + (row.failure[0] ? row.failure : "wrote nothing") +
                            "\n");
            continue;
        }
        wrote.push_back(row);
        lines.push_back(rank_name(row) + format_text(": %" PRIu64 " MB written in ", row.total_kb >> 10) +
                        thousandths(row.span_ms, "s") + format_text(", %" PRIu64 " MB/s", rank_mb_per_s(row)) +
                        (row.fell_short ? ", fell short\n" : "\n"));
    }
    // Every rank passed the start barrier, whether it wrote or not.
    const std::string start = "start: all ranks released within " +
                              thousandths(run_figures(rows).start_uncertainty_us, "ms") +
                              " (the start barrier on the last rank to reach it)\n";
    if (wrote.empty()) {
        lines.push_back("no figures: no rank wrote a block\n");
        lines.push_back(start);
        return lines;
    }
    const RunFigures run = run_figures(wrote);
    const RankRow& slowest = wrote[run.slowest];
    const RankRow& fastest = wrote[run.fastest];
    lines.push_back("slowest: " + rank_name(slowest) + format_text(", %" PRIu64 " MB/s\n", rank_mb_per_s(slowest)));
    lines.push_back("fastest: " + rank_name(fastest) + format_text(", %" PRIu64 " MB/s\n", rank_mb_per_s(fastest)));
    lines.push_back(format_text("MB/s while all ranks were writing: %" PRIu64 " (%" PRIu64 " MB in ",
                           mb_per_s(run.kb_at_first_end, run.first_end_ms), run.kb_at_first_end >> 10) +
                    thousandths(run.first_end_ms, "s") + ", until the first rank finished)\n");
    lines.push_back(format_text("MB/s to completion: %" PRIu64 " (%" PRIu64 " MB in ",
                           mb_per_s(run.total_kb, run.last_end_ms), run.total_kb >> 10) +
                    thousandths(run.last_end_ms, "s") + ", until the last rank finished)\n");
    lines.push_back("tail: " + thousandths(run.last_end_ms - run.first_end_ms, "s") +
                    " between the first and the last rank to finish\n");
    lines.push_back(start);
    if (buffered)
        lines.push_back("durable: every file flushed " + thousandths(run.durable_ms, "s") +
                        " after the start; the longest flush took " + thousandths(run.longest_flush_ms, "s") +
                        "\n");
    return lines;
}

StonewallFigures stonewall_figures(const std::vector<RankRow>& rows, int64_t target_blocks) {
    StonewallFigures figures{false, 0, 0, 0, 0, 0, 0, 0, 0, target_blocks};
    for (size_t i = 0; i < rows.size(); ++i) {
        const RankRow& row = rows[i];
        figures.reached = figures.reached || row.wall_ms != 0;
        figures.wall_kb += row.wall_kb;
        figures.wall_ms = std::max(figures.wall_ms, row.wall_ms);
        figures.total_kb += row.total_kb;
        figures.end_ms = std::max(figures.end_ms, row.span_ms);
        if (row.wall_kb < rows[figures.slowest].wall_kb) figures.slowest = i;
        if (row.wall_kb > rows[figures.fastest].wall_kb) figures.fastest = i;
    }
    figures.behind_kb = rows[figures.fastest].wall_kb - rows[figures.slowest].wall_kb;
    figures.slowest_rank = rows[figures.slowest].rank;
    return figures;
}

std::vector<std::string> stonewall_lines(const std::vector<RankRow>& rows, uint32_t seconds, int64_t target_blocks,
                                         StonewallFigures* figures) {
    std::vector<RankRow> wrote;
    bool fell_short = false;
    for (const RankRow& row : rows) {
        if (rank_wrote(row)) wrote.push_back(row);
        fell_short = fell_short || row.fell_short;
    }
    if (wrote.empty()) return {};
    const StonewallFigures run = stonewall_figures(wrote, target_blocks);
    if (figures) *figures = run;
    if (!run.reached) return {format_text("stonewall: not reached: every rank finished before %u s\n", seconds)};
    std::string behind;
    if (wrote.size() > 1 && run.behind_kb == 0) behind = "; no rank was behind";
    else if (wrote.size() > 1)
        behind = "; the slowest, " + rank_name(wrote[run.slowest]) +
                 format_text(", was %" PRIu64 " MB behind ", run.behind_kb >> 10) + rank_name(wrote[run.fastest]);
    return {format_text("stonewall: %" PRIu64 " MB in ", run.wall_kb >> 10) + thousandths(run.wall_ms, "s") +
                format_text(", %" PRIu64 " MB/s (all ranks until they stopped at %u s)",
                            mb_per_s(run.wall_kb, run.wall_ms), seconds) +
                behind + "\n",
            format_text("wear-out: %" PRIu64 " MB in ", run.total_kb >> 10) + thousandths(run.end_ms, "s") +
                format_text(", %" PRIu64 " MB/s (to the last rank's end, every file written on to %" PRId64
                            " blocks%s)\n",
                            mb_per_s(run.total_kb, run.end_ms), run.target_blocks,
                            fell_short ? " but those that fell short" : "")};
}

std::string read_back_line(const RunSettings& settings, const std::string& rank0_prefix) {
    return format_text("check the files with vorlax-read and each rank's prefix: vorlax-read %s ",
                       settings.buffered ? "B" : "U") +
           shell_word(rank0_prefix) +
           format_text(" %u %u %u reads rank 0's\n", settings.buffer_kb, settings.thread_count, settings.max_gb);
}
