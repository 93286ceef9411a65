// The notes for arguments a run replaces or reads in part: exactly one per
// such argument, none for the plain ones, and never a change to what is run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main/run_driver.h"
#include "main/vorlax_program.h"
#include "platform/platform.h"
#include "notes/notes.h"
#include "settings/settings.h"
#include "help_words.h"

namespace {

std::vector<std::string> notes_for(std::vector<const char*> args, const char* program = "vorlax",
                                   const char* activity = "writing") {
    args.insert(args.begin(), program);
    std::vector<std::string> notes = argument_notes(static_cast<int>(args.size()), args.data(), program, activity);
    for (std::string& note : notes) note = with_help_as_on_linux(note);
    return notes;
}

// The settings a command line gives, as "<B|U> <KB> <threads> <GB>".
std::string values_for(std::vector<const char*> args) {
    args.insert(args.begin(), "vorlax");
    RunSettings set;
    EXPECT_EQ(parse_settings(static_cast<int>(args.size()), args.data(), &set), ParseOutcome::run);
    return std::string(set.buffered ? "B " : "U ") + std::to_string(set.buffer_kb) + " " +
           std::to_string(set.thread_count) + " " + std::to_string(set.max_gb);
}

TEST(ArgumentNotes, OneNotePerReplacedOrPartlyReadArgumentAndTheSameBanner) {
    const struct {
        std::vector<const char*> args;
        const char* values;  // as values_for gives them: the same as without notes
        std::vector<std::string> notes;
    } cases[] = {
        // Plain values: no note.
        {{"B"}, "B 64 1 1", {}},
        {{"b", "d/r", "1", "99", "63"}, "B 1 99 63", {}},
        {{"u", "d/r", " 064", "+2", "1 "}, "U 64 2 1", {}},
        // Mode: neither letter, or a longer word.
        {{"help"}, "U 64 1 1",
         {"vorlax: note: mode \"help\" is neither B nor U: writing unbuffered; vorlax --help shows the usage\n"}},
        {{"Bx"}, "B 64 1 1",
         {"vorlax: note: mode \"Bx\" read as B: writing buffered; only its first letter counts\n"}},
        // Read in part: the number before the suffix.
        {{"U", "d/r", "4M", "1", "1"}, "U 4 1 1",
         {"vorlax: note: max-buf-KB \"4M\" read as 4 (KB); sizes are whole KB, no suffixes\n"}},
        {{"U", "d/r", "64", "2x", "1.5"}, "U 64 2 1",
         {"vorlax: note: max-threads \"2x\" read as 2; counts are whole numbers, no suffixes\n",
          "vorlax: note: max-GB \"1.5\" read as 1 (GB); sizes are whole GB, no suffixes\n"}},
        // Out of range: the fallback, or what the digits wrap to.
        {{"U", "d/r", "1024", "1", "0.5"}, "U 1024 1 4",
         {"vorlax: note: max-GB \"0.5\" is out of range (1 to 63): using 4\n"}},
        {{"U", "d/r", "1024", "200", "100"}, "U 1024 1 4",
         {"vorlax: note: max-threads \"200\" is out of range (1 to 99): using 1\n",
          "vorlax: note: max-GB \"100\" is out of range (1 to 63): using 4\n"}},
        {{"U", "d/r", "100000", "-1", "-0"}, "U 64 1 4",
         {"vorlax: note: max-buf-KB \"100000\" is out of range (1 to 32768): using 64\n",
          "vorlax: note: max-threads \"-1\" is out of range (1 to 99): using 1\n",
          "vorlax: note: max-GB \"-0\" is out of range (1 to 63): using 4\n"}},
        {{"U", "d/r", "4294967297", "4294967297", "4294967297"}, "U 1 1 1",
         {"vorlax: note: max-buf-KB \"4294967297\" wraps to 1 in 32 bits: using 1\n",
          "vorlax: note: max-threads \"4294967297\" wraps to 1 in 32 bits: using 1\n",
          "vorlax: note: max-GB \"4294967297\" wraps to 1 in 32 bits: using 1\n"}},
        {{"U", "d/r", "4294967360", "4294967396", "-4294967297"}, "U 64 1 4",
         {"vorlax: note: max-buf-KB \"4294967360\" wraps to 64 in 32 bits: using 64\n",
          "vorlax: note: max-threads \"4294967396\" wraps to 100 in 32 bits, out of range (1 to 99): using 1\n",
          "vorlax: note: max-GB \"-4294967297\" wraps to 4294967295 in 32 bits, out of range (1 to 63): using 4\n"}},
        // No digits: the default stays.
        {{"U", "d/r", "abc", "", "k1"}, "U 64 1 1",
         {"vorlax: note: max-buf-KB \"abc\" is not a number: using the default 64\n",
          "vorlax: note: max-threads \"\" is not a number: using the default 1\n",
          "vorlax: note: max-GB \"k1\" is not a number: using the default 1\n"}},
        // Every note stays one short line, whatever the argument holds.
        {{"\t\n", "d/r", "7\x01", "99999999999999999999999999999999999999999999"}, "U 7 1 1",
         {"vorlax: note: mode \"\\t\\n\" is neither B nor U: writing unbuffered; vorlax --help shows the usage\n",
          "vorlax: note: max-buf-KB \"7\\x01\" read as 7 (KB); sizes are whole KB, no suffixes\n",
          "vorlax: note: max-threads \"9999999999999999999999999999999999999999...\" wraps to 4294967295 in 32 "
          "bits, out of range (1 to 99): using 1\n"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(notes_for(c.args), c.notes) << c.args[0];
        EXPECT_EQ(values_for(c.args), c.values) << c.args[0];
    }
}

TEST(ArgumentNotes, NameTheProgramAndItsActivityAndNoneOutsideARun) {
    EXPECT_EQ(notes_for({"X", "d/r", "2k"}, "vorlax-read", "reading"),
              (std::vector<std::string>{
                  "vorlax-read: note: mode \"X\" is neither B nor U: reading unbuffered; vorlax-read --help shows "
                  "the usage\n",
                  "vorlax-read: note: max-buf-KB \"2k\" read as 2 (KB); sizes are whole KB, no suffixes\n"}));
    EXPECT_EQ(notes_for({}), std::vector<std::string>{});
    EXPECT_EQ(notes_for({"x", "p", "0", "0", "0", "extra"}), std::vector<std::string>{});
}

// A run of many processes prints them from one only.
TEST(ArgumentNotes, PrintedOnARunUnlessLeftOut) {
    const char* argv[] = {"vorlax", "X", "d/r", "4M"};
    const std::string expected = "vorlax: note: mode \"X\" is neither B nor U: writing unbuffered; vorlax --help "
                                 "shows the usage\nvorlax: note: max-buf-KB \"4M\" read as 4 (KB); sizes are "
                                 "whole KB, no suffixes\n";
    for (ArgumentNotes notes : {ArgumentNotes::print, ArgumentNotes::leave_out}) {
        RunSettings settings;
        int exit_status = -1;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(settle_command_line(vorlax_program, 4, argv, &settings, &exit_status, notes));
        EXPECT_EQ(with_help_as_on_linux(testing::internal::GetCapturedStderr()), notes == ArgumentNotes::print ? expected : "");
    }
}

}  // namespace

namespace {

// A stopped run: the cause, what was counted, the files that stay, and the
// status of 128 + the signal's number.
TEST(StoppedRun, LineAndExitStatus) {
    RunSettings settings;
    settings.path_prefix = "/mnt/run";
    settings.thread_count = 3;
    EXPECT_EQ(stop_line("vorlax", StopReason::interrupt, 5u << 20, "written", settings),
              "vorlax: run stopped by Ctrl-C: 5120 MB written; the test files stay as written: /mnt/run_00.BIN to "
              "/mnt/run_02.BIN\n");
    settings.thread_count = 1;
    EXPECT_EQ(stop_line("vorlax-read", StopReason::terminate, 1536, "read", settings),
              "vorlax-read: run stopped by SIGTERM: 1 MB read; the test files: /mnt/run_00.BIN\n");
    EXPECT_EQ(stop_line("vorlax", StopReason::interrupt, 0, "written", settings, 1),
              "vorlax: run stopped by Ctrl-C: 0 MB written; the test files stay as written: /mnt/run_00.BIN; 1 thread "
              "was still in a block after 3 s, not waited for\n");
    EXPECT_EQ(stop_exit_status(StopReason::interrupt), 130);
    EXPECT_EQ(stop_exit_status(StopReason::terminate), 143);
    EXPECT_EQ(stop_exit_status(StopReason::none), -1);
    EXPECT_EQ(stop_exit_status(StopReason::deadline), -1);
}

}  // namespace
