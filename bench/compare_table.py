"""The tables of bench/compare: medians, ratios, the machine line and the
Markdown file that holds them."""
import datetime
import os
import platform
import statistics

from vorlax_machine import mount_of_path


def median_of_values(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def min_of(values):
    values = [v for v in values if v is not None]
    return min(values) if values else None


def median_of(runs, key):
    values = [r[key] for r in runs if r and r[key] is not None]
    return statistics.median(values) if values else None


def fmt(value, digits=0):
    return "-" if value is None else "%.*f" % (digits, value)


def ratio(ours, theirs):
    return "-" if ours is None or not theirs else "%.2f" % (ours / theirs)


def describe_target(path):
    """The folder with its file system type and device, as vorlax-sweep finds them."""
    fs_type, source = mount_of_path(path)[:2]
    return "%s (%s on %s)" % (path, fs_type, source)


def table_rows(cell, runs):
    """The cell's rows: each tool's medians and, for its peers, ours over
    theirs."""
    ours = {key: median_of(runs[cell.tools[0]], key) for key in ("reported", "wall", "user")}
    rows = []
    for tool in cell.tools:
        results = runs[tool]
        refused = all(r is None for r in results)
        med = {key: median_of(results, key) for key in ("reported", "wall", "user", "sys", "rss")}
        peer = tool != cell.tools[0] and not refused
        rows.append("| %s | %s | %d | %d | %s | %d | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            cell.target, cell.mode, cell.block_kb, cell.threads, tool, len(results),
            "refused" if refused else fmt(med["reported"]), fmt(med["wall"]), fmt(med["user"], 3),
            fmt(med["sys"], 3), fmt(med["rss"], 1),
            ratio(ours["reported"], med["reported"]) if peer else "",
            ratio(ours["wall"], med["wall"]) if peer else "",
            ratio(ours["user"], med["user"]) if peer else ""))
    return rows


READ_TITLE = ("Reads: each cell's files written once by vorlax, then read back by each reader in turn "
              "(a sync before each run); *unchecked*: vorlax-read built without its block check "
              "(cmake -DVORLAX_BENCH_UNCHECKED=ON); ratios are vorlax-read / peer.")

HEADER = ("| target | mode | block KB | threads | tool | runs | reported MiB/s | wall MiB/s | user s/GiB "
          "| sys s/GiB | peak RSS MiB | vorlax/peer reported | vorlax/peer wall | vorlax/peer user |\n"
          "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")


def machine_line(targets):
    cores = os.cpu_count()
    with open("/proc/meminfo") as f:
        mem_gib = int(f.readline().split()[1]) / (1 << 20)
    model = ""
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    load = os.getloadavg()[0]
    return ("%d cores (%s), %.0f GiB memory, Linux %s; targets: %s; load average at start %.2f"
            % (cores, model, mem_gib, platform.release(), ", ".join(describe_target(t) for t in targets), load))


def write_table(path, started, command, machine, rows, read_rows, startup, method, partial):
    minutes = (datetime.datetime.now(datetime.timezone.utc) - started).total_seconds() / 60
    lines = [
        "Taken %s UTC (%.0f min) with `%s`%s." % (started.strftime("%Y-%m-%d %H:%M"), minutes, command, partial),
        "", "Machine: " + machine + ".", "",
        "Medians over the runs; each tool wrote (or read) 1 GiB per thread, writers on freshly deleted files, "
        "tools interleaved run by run. MiB/s = 2^20 bytes/s. *reported*: the tool's own figure (vorlax, "
        "vorlax-read: the last sustained rate; fio: bw; dd: bytes / its seconds); *wall*: bytes / whole-process "
        "wall time; CPU s per GiB; *limit*: fio libaio, iodepth 32, direct, 1 MiB blocks, threads GiB in one "
        "job.", ""]
    if rows:
        lines += [HEADER] + rows + [""]
    if read_rows:
        lines += [READ_TITLE, "", HEADER.replace("vorlax/peer", "vorlax-read/peer")] + read_rows + [""]
    if startup:
        lines += [
            "Start to first block write: execve to the first write into a test file (%s, 5 runs each, "
            "mode B, 1 thread, output to /dev/null):" % method, "",
            "| target | block KB | vorlax median ms | vorlax min ms | fio median ms | fio min ms |",
            "|---|---|---|---|---|---|"] + startup
    text = "\n".join(lines).rstrip("\n") + "\n"
    with open(path, "w") as f:
        f.write(text)
