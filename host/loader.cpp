// Finding and opening a module the way the host does: the description file
// first, then the shared library beside it, then its IDL_Load, once.
#include <fstream>
#include <sstream>

#include "host/library.h"
#include "host/state.h"

namespace vokip_host {

void unload_module() {
  State& s = state();
  if (s.handle) close_library(s.handle);
  s.handle = nullptr;
}

bool load_module(const std::string& dir, const std::string& name) {
  State& s = state();
  const std::string path = dir + "/" + name + ".dlm";
  std::ifstream file(path);
  if (!file) {
    print_line("% Module description not found: " + path);
    return false;
  }
  std::stringstream text;
  text << file.rdbuf();
  DlmFile dlm = parse_dlm(text.str(), s.mode);
  if (!dlm.error.empty()) {
    print_line("% Module description " + path + " refused: " + dlm.error);
    return false;
  }
  unload_module();
  s.module_dir = dir;
  s.module_name = name;
  s.dlm = dlm;
  s.dlm_read = true;
  s.load_result = -1;
  // The open host opens every module as soon as it reads its description.
  if (s.mode == Mode::open) ensure_loaded();
  return true;
}

int load_result() {
  return state().load_result;
}

int ensure_loaded() {
  State& s = state();
  if (s.handle) return s.load_result;
  if (!s.dlm_read) return 0;
  const std::string library = library_path(s.module_dir, s.module_name);
  std::string error;
  s.handle = open_library(library, s.mode == Mode::open, &error);
  if (!s.handle) {
    print_line("% Unable to load " + library + ": " + error);
    s.load_result = 0;
    return 0;
  }
  using LoadEntry = int (*)();
  auto entry = reinterpret_cast<LoadEntry>(library_entry(s.handle, "IDL_Load"));
  if (!entry) {
    print_line("% " + library + " has no IDL_Load.");
    s.load_result = 0;
    return 0;
  }
  ++s.load_calls;
  s.load_result = entry();
  // The open host defines none of a module's routines when its load fails.
  if (s.load_result == 0 && s.mode == Mode::open) s.routines.clear();
  return s.load_result;
}

}  // namespace vokip_host
