// The facts the notes are made from (notes.h), looked up on this machine
// for a run's settings: the folder of its test files, its file system and
// the memory there is. The only part of the notes module that asks the
// system.
#pragma once

#include "notes/notes.h"
#include "settings/settings.h"

// The facts about the folder of settings' test files, each note headed by
// program; available_bytes and total_bytes stay 0, so no note on fitting
// in memory: a read run's files exist already.
RunNoteFacts folder_note_facts(const char* program, const RunSettings& settings);

// folder_note_facts with the memory available and total_bytes counting this
// process's test files: the facts for a write run of settings; for a
// memory-backed folder also the facts memory_refusal_line needs.
RunNoteFacts write_note_facts(const char* program, const RunSettings& settings);
