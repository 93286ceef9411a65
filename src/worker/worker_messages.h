// The sentences on stderr that writers and readers share, each headed by
// the worker's message head and test file name and each saying what to
// try. Pure, but for the system's error texts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "worker/worker.h"

// Which way a worker moves the data, for the words of its lines.
enum class WorkerRole { writer, reader };

// "<message_head><name>", or "<message_head>test file" when the name is
// empty.
std::string worker_head(const WorkerLayout& layout);

// For a file that could not be opened (created, for a writer) with the
// system's code error, in the order that fits best: a name too long,
// another user's entry in a shared folder, a folder where the file belongs,
// unbuffered transfers refused, a missing folder (writer) or file (reader),
// anything else. Names what to try.
std::string open_failure_line(const WorkerLayout& layout, WorkerRole role, int error, const ForeignEntry& foreign);

// "<head>: cannot get a N KB write buffer: <reason>; use a smaller block
// size or fewer threads" ("read buffer" for a reader).
std::string buffer_failure_line(const WorkerLayout& layout, WorkerRole role, int error);

// "<message_head><name>: cannot start <role> thread N: <reason>; use fewer
// threads", for a worker whose thread the system would not start; role is
// "writer" or "reader".
std::string thread_start_failure_line(const WorkerLayout& layout, const char* role, int error);

// What to try when the system refuses unbuffered transfers of buffer_kb:
// "the block size (N KB) must be a whole multiple of the device's sector
// size (A bytes here); use such a block size, or mode B", the bracket left
// out when alignment_bytes is 0.
std::string unbuffered_alignment_advice(uint32_t buffer_kb, uint32_t alignment_bytes);

// The line on stderr for a test file not opened because it is a foreign
// entry (platform.h): "<head>: not followed: ..." for a link, "not cut" for
// a file, naming its owner and folder, why, and what to do.
std::string describe_foreign_entry(const std::string& head, const ForeignEntry& foreign);
