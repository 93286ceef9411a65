// The notes for command-line arguments that a run replaces or reads only in
// part: the run goes ahead with the values it always took, and says so.
#include <cstdio>
#include <cstring>

#include "notes/notes.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace {

// The unit in the name of a number argument ("KB", "GB"), or "" for a count.
std::string unit_of(const NumberArgument& argument) {
    const char* dash = std::strrchr(argument.name, '-');
    const std::string unit = dash ? dash + 1 : "";
    return unit == "KB" || unit == "GB" ? unit : "";
}

std::string mode_note(const std::string& head, const char* text, const char* program, const char* activity) {
    const char letter = mode_letter(text);
    if (letter != '\0' && text[1] == '\0') return std::string();
    if (letter != '\0')
        return head + "mode " + quoted(text) + " read as " + letter + ": " + activity + " " +
               (letter == 'B' ? "buffered" : "unbuffered") + "; only its first letter counts\n";
    return head + "mode " + quoted(text) + " is neither B nor U: " + activity + " unbuffered; " + program + " " +
           platform_help_words.help_option + " shows the usage\n";
}

std::string number_note(const std::string& head, const NumberArgument& argument, const char* text) {
    const DecimalText scan = scan_decimal(text);
    RunSettings in_force;
    read_number_argument(argument, text, &in_force);
    const std::string used = std::to_string(in_force.*argument.field);
    const std::string lead = head + argument.name + " " + quoted(text);
    if (!scan.found) return lead + " is not a number: using the default " + used + "\n";
    const std::string range = "out of range (1 to " + std::to_string(argument.max_value) + ")";
    // Digits past 32 bits wrap (a minus then negates what they came to): say
    // what the number came to, and whether that is in range.
    if (scan.wrapped)
        return lead + " wraps to " + std::to_string(scan.value) + " in 32 bits" +
               (number_in_range(argument, scan.value) ? "" : ", " + range) + ": using " + used + "\n";
    if (scan.negative || !number_in_range(argument, scan.exact)) return lead + " is " + range + ": using " + used + "\n";
    const char* rest = scan.rest;
    while (is_blank(*rest)) ++rest;
    if (*rest == '\0') return std::string();
    const std::string unit = unit_of(argument);
    if (unit.empty()) return lead + " read as " + used + "; counts are whole numbers, no suffixes\n";
    return lead + " read as " + used + " (" + unit + "); sizes are whole " + unit + ", no suffixes\n";
}

}  // namespace

std::vector<std::string> argument_notes(int argc, const char* const* argv, const char* program,
                                        const char* activity) {
    std::vector<std::string> notes;
    // The leading options read, the notes are on the rest.
    const int options = first_positional_index(argc, argv) - 1;
    argc -= options;
    argv += options;
    if (!argument_count_fits(argc)) return notes;
    const std::string head = note_head(program);
    std::string note = mode_note(head, argv[1], program, activity);
    if (!note.empty()) notes.push_back(note);
    for (int position = 3; position < argc; ++position) {
        note = number_note(head, number_arguments[position - 3], argv[position]);
        if (!note.empty()) notes.push_back(note);
    }
    return notes;
}
