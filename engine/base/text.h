// Text in and out: the one strict reader of numbers written as text (option
// values, .poni values, header keywords, calibrant lists), and numbers into
// text with printf's formats.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vokip {

// The whole text as a finite number, or nothing (empty text, trailing
// characters, an infinity, NaN or an overflow).
std::optional<double> number_in(const std::string& text);
// The whole text as a whole number in decimal, or nothing.
std::optional<long> whole_number_in(const std::string& text);

// The text without blanks (spaces, tabs, line ends) at its ends.
std::string trim(const std::string& text);
// The blank-separated words of the text.
std::vector<std::string> words_of(const std::string& text);

// The text printf would print (at most 511 characters).
std::string printf_string(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vokip
