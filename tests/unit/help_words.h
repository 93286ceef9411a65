// Help and note texts as the Linux program spells them, so that one table
// of expected lines serves the tests on both systems.
#pragma once

#include <string>

#include "platform/platform.h"

// text with this system's option for the help (Windows: /?) written as
// --help, as the tests' tables spell it.
inline std::string with_help_as_on_linux(std::string text) {
    const std::string option = std::string(" ") + platform_help_words.help_option + " shows the usage";
    const std::string linux_words = " --help shows the usage";
    for (size_t at = 0; (at = text.find(option, at)) != std::string::npos; at += linux_words.size())
        text.replace(at, option.size(), linux_words);
    return text;
}
