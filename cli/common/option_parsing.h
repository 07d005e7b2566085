// Pieces of the command lines' option parsing that every program shares:
// pairs of numbers in option values, options bound to parsers, the geometry
// options, and the engine's messages with the option that mends them.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/geometry/geometry.h"

namespace vokip {

// What a parsed command line asks for.
enum class OptionsOutcome { run, help, version, error };

// Exit codes every program shares.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;  // bad command line

// Parses the arguments after the program name into the app's options:
// help, version, an error (its message in error) or run.
OptionsOutcome parse_command_line(CLI::App& app, const std::vector<std::string>& args,
                                  std::string* error);

// What a program does for an outcome other than run: prints its help, its
// version or the error, and returns the exit code; nothing for run.
std::optional<int> answer_without_running(const char* program, OptionsOutcome outcome,
                                          const std::string& error, const std::string& help);

// "A,B" (or "A:B") into two numbers; an end may be left empty when allowed.
bool parse_pair(const std::string& text, char separator, bool ends_optional,
                std::optional<double>* a, std::optional<double>* b);

// An option whose text is parsed by parse; a false return refuses it with
// what the option expects, an Error with its message.
CLI::Option* add_parsed(CLI::App& app, const std::string& names, const std::string& expects,
                        const std::string& help, std::function<bool(const std::string&)> parse);

CLI::Option* add_number(CLI::App& app, const std::string& names, const std::string& expects,
                        const std::string& help, std::optional<double>* into);
CLI::Option* add_whole(CLI::App& app, const std::string& names, const std::string& expects,
                       const std::string& help, std::function<void(long)> into);

// --distance, --center, --pixel-size, --tilt and --tilt-direction, in the
// group.
void add_geometry_options(CLI::App& app, GeometryOverrides* geometry, const std::string& group);

// The engine's message with the options that set what it names, e.g. "the
// wavelength is not known [--wavelength A]".
std::string with_option(const Error& error);

}  // namespace vokip
