// Numbers into text for the engine's text outputs, with printf's formats.
#pragma once

#include <string>

namespace vokip {

// The text printf would print (at most 511 characters).
std::string printf_string(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vokip
