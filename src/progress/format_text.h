// printf into a std::string, for the lines the programs print.
#pragma once

#include <string>

// The text that printf would print for pattern and its arguments, cut at
// 511 characters.
std::string format_text(const char* pattern, ...);
