// Pieces of the command lines' option parsing that every program shares:
// numbers and pairs of numbers in option values, options bound to parsers,
// and the geometry options.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>

#include "engine/geometry/geometry.h"

namespace vokip {

// What a parsed command line asks for.
enum class OptionsOutcome { run, help, version, error };

// Exit codes every program shares.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;  // bad command line

// A whole finite number; false when the text is anything else.
bool parse_number(const std::string& text, double* value);
bool parse_whole(const std::string& text, long* value);

// "A,B" (or "A:B") into two numbers; an end may be left empty when allowed.
bool parse_pair(const std::string& text, char separator, bool ends_optional,
                std::optional<double>* a, std::optional<double>* b);

// An option whose text is parsed by parse; a false return refuses it with
// what the option expects.
CLI::Option* add_parsed(CLI::App& app, const std::string& names, const std::string& expects,
                        const std::string& help, std::function<bool(const std::string&)> parse);

CLI::Option* add_number(CLI::App& app, const std::string& names, const std::string& expects,
                        const std::string& help, std::optional<double>* into);

// --distance, --center, --pixel-size, --tilt and --tilt-direction, in the
// group.
void add_geometry_options(CLI::App& app, GeometryOverrides* geometry, const std::string& group);

}  // namespace vokip
