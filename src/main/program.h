// What sets one program of the family apart: its name, what its threads do
// and the words its lines use. The drivers are the same for all.
#pragma once

#include <string>

#include "notes/notes.h"
#include "platform/platform.h"
#include "settings/settings.h"

struct ProgramInfo {
    const char* name;           // "vorlax": heads its lines on stderr
    const char* usage;          // the usage text, line end included
    HelpText help;              // what -h and --help print after the usage text
    const char* version_line;   // what --version prints, line end included
    const char* activity;       // "writing": in the banner
    const char* progress_verb;  // "written": in the progress lines
    const char* worker_role;    // "writer": names a thread that cannot start
    ThreadRoutine worker;       // the thread routine; its argument is a WorkerJob
    // Runs after the banner, before any worker starts: the facts this
    // run's notes are made from (note_facts.h), each note headed by
    // program; may be null: no notes.
    RunNoteFacts (*note_facts)(const char* program, const RunSettings& settings);
    // Then, before the notes are said: readies the test files (vorlax-read
    // writes out and drops their cached pages) and notes in *facts what
    // came of it; may be null.
    void (*prepare_files)(const RunSettings& settings, RunNoteFacts* facts);
    // A run that counted any block ends with a progress line, even when every
    // worker ended before the monitor's first look (vorlax-read's rule).
    bool last_line_if_counted = false;
    // Runs before the banner: the line that refuses this run (exit 2), or
    // empty when it may start; may be null.
    std::string (*refusal)(const RunSettings& settings) = nullptr;
};
