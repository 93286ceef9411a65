// The help texts: the rows of their argument tables that give the numbers'
// ranges, defaults and fallbacks, made from the table the parser reads them
// with, and the texts put together around those rows.
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "settings/settings.h"

namespace {

// Where a row's descriptions start: "  max-threads  " and the lines after.
constexpr size_t description_column = 15;

// The longest line of a help text.
constexpr size_t width_columns = 78;

// text broken at its blanks into lines of at most width_columns, the first
// after head, the others after description_column blanks; '~' becomes a
// blank once the breaks are chosen.
std::string wrap_row(const std::string& head, const std::string& text) {
    std::string out = head;
    size_t line_start = 0;
    size_t word_start = 0;
    while (word_start < text.size()) {
        size_t word_end = text.find(' ', word_start);
        if (word_end == std::string::npos) word_end = text.size();
        const std::string word = text.substr(word_start, word_end - word_start);
        const bool first_word = out.size() == line_start + description_column;
        if (!first_word && out.size() - line_start + 1 + word.size() > width_columns) {
            out += '\n';
            line_start = out.size();
            out.append(description_column, ' ');
        } else if (!first_word) {
            out += ' ';
        }
        out += word;
        word_start = word_end + 1;
    }
    for (char& c : out)
        if (c == '~') c = ' ';
    return out + "\n";
}

// Every marker of a help text replaced by words, "<docs NAME>" by
// words.docs for the program NAME.
std::string with_system_words(std::string text, const PlatformHelpWords& words) {
    const struct {
        const char* marker;
        const char* word;
    } plain[] = {{"<example>", words.example}, {"<sep>", words.separator}, {"<remove>", words.remove},
                 {"<bypass>", words.bypass}, {"<quoted-end>", words.quoted_end}};
    for (const auto& item : plain)
        for (size_t at = text.find(item.marker); at != std::string::npos; at = text.find(item.marker, at))
            text.replace(at, std::strlen(item.marker), item.word);
    for (size_t at = text.find("<docs "); at != std::string::npos; at = text.find("<docs ", at)) {
        const size_t end = text.find('>', at);
        if (end == std::string::npos) break;
        const std::string name = text.substr(at + 6, end - at - 6);
        std::string docs = words.docs;
        const size_t slot = docs.find("%s");
        if (slot != std::string::npos) docs.replace(slot, 2, name);
        text.replace(at, end + 1 - at, docs);
    }
    return text;
}

}  // namespace

std::string format_number_rows(const char* const descriptions[3], const RangeWording& wording) {
    const RunSettings defaults;
    std::string rows;
    for (size_t index = 0; index < 3; ++index) {
        const NumberArgument& argument = number_arguments[index];
        std::string head = std::string("  ") + argument.name;
        head.append(description_column - head.size(), ' ');
        const std::string text = std::string(descriptions[index]) + wording.before_range + "1 to " +
                                 std::to_string(argument.max_value) + wording.before_default +
                                 std::to_string(defaults.*argument.field) + wording.before_fallback +
                                 std::to_string(argument.fallback) + wording.end;
        rows += wrap_row(head, text);
    }
    return rows;
}

std::string format_help(const HelpText& help) {
    static const std::string number_marker = "<number rows>\n";
    static const std::string option_marker = "<option rows>\n";
    std::string text = help.text;
    const size_t at = text.find(number_marker);
    if (at != std::string::npos)
        text.replace(at, number_marker.size(), format_number_rows(help.number_descriptions, help.number_wording));
    const size_t options_at = text.find(option_marker);
    if (options_at != std::string::npos) text.replace(options_at, option_marker.size(), format_option_rows(help.writing));
    return with_system_words(text, platform_help_words);
}
