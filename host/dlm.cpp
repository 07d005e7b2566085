// Reading module description files as each host reads them.
#include <sstream>

#include "host/state.h"

namespace vokip_host {

namespace {

std::string strip_comment(const std::string& line) {
  const auto hash = line.find('#');
  return hash == std::string::npos ? line : line.substr(0, hash);
}

// "NAME MIN MAX" after the keyword; false when it does not read so.
bool read_routine(std::istringstream& words, bool is_function, DlmRoutine* out) {
  out->is_function = is_function;
  if (!(words >> out->name >> out->arg_min >> out->arg_max)) return false;
  return out->arg_min >= 0 && out->arg_max >= out->arg_min;
}

DlmFile parse_idl(const std::string& text) {
  DlmFile dlm;
  std::istringstream lines(text);
  std::string line;
  int modules = 0;
  while (std::getline(lines, line)) {
    std::istringstream words(strip_comment(line));
    std::string keyword;
    if (!(words >> keyword)) continue;
    if (keyword == "MODULE") {
      ++modules;
      words >> dlm.module;
    } else if (keyword == "PROCEDURE" || keyword == "FUNCTION") {
      DlmRoutine r;
      if (!read_routine(words, keyword == "FUNCTION", &r)) {
        dlm.error = "routine line not understood: " + line;
        return dlm;
      }
      dlm.routines.push_back(r);
    } else if (keyword != "DESCRIPTION" && keyword != "VERSION" && keyword != "SOURCE" &&
               keyword != "BUILD_DATE" && keyword != "CHECKSUM" && keyword != "STRUCTURE") {
      dlm.error = "unknown keyword " + keyword;
      return dlm;
    }
  }
  if (modules != 1) dlm.error = "exactly one MODULE line is needed";
  return dlm;
}

// The open host searches every line for the upper-case words anywhere.
DlmFile parse_open(const std::string& text) {
  DlmFile dlm;
  std::istringstream lines(text);
  std::string raw;
  int modules = 0;
  while (std::getline(lines, raw)) {
    const std::string line = strip_comment(raw);
    if (line.find("MODULE") != std::string::npos) {
      ++modules;
      std::istringstream words(line.substr(line.find("MODULE") + 6));
      words >> dlm.module;
    }
    for (const char* keyword : {"PROCEDURE", "FUNCTION"}) {
      const auto at = line.find(keyword);
      if (at == std::string::npos) continue;
      std::istringstream words(line.substr(at + std::string(keyword).size()));
      DlmRoutine r;
      if (!read_routine(words, std::string(keyword) == "FUNCTION", &r)) {
        dlm.error = "routine line not understood: " + raw;
        return dlm;
      }
      dlm.routines.push_back(r);
    }
  }
  if (modules != 1) dlm.error = "exactly one line may contain MODULE";
  return dlm;
}

}  // namespace

DlmFile parse_dlm(const std::string& text, Mode as) {
  return as == Mode::open ? parse_open(text) : parse_idl(text);
}

}  // namespace vokip_host
