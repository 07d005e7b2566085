// The routine table, calls by name, and starting over.
#include <gsl/gsl_errno.h>

#include <stdexcept>

#include "host/state.h"

namespace vokip_host {

namespace {

// The open host's GSL handler: it throws through whatever frames called GSL.
void throwing_gsl_handler(const char* reason, const char* file, int line, int gsl_errno) {
  throw std::runtime_error(std::string("GSL error ") + std::to_string(gsl_errno) + ": " + reason +
                           " (" + file + ":" + std::to_string(line) + ")");
}

RoutineEntry* find_routine(const std::string& name) {
  for (auto& r : state().routines)
    if (r.name == name) return &r;
  return nullptr;
}

const DlmRoutine* find_dlm_routine(const std::string& name) {
  if (!state().dlm_read) return nullptr;
  for (const auto& r : state().dlm.routines)
    if (r.name == name) return &r;
  return nullptr;
}

}  // namespace

void reset(Mode mode) {
  unload_module();
  State& s = state();
  s.mode = mode;
  s.variables.clear();
  s.temporaries.clear();
  s.blocks.clear();
  s.printed.clear();
  s.routines.clear();
  s.current_routine.clear();
  s.refuse_block = false;
  s.refuse_k = 0;
  s.attempts = 0;
  s.load_calls = 0;
  s.broken = false;
  s.dlm = DlmFile{};
  s.dlm_read = false;
  s.load_result = -1;
  gsl_set_error_handler(mode == Mode::open ? &throwing_gsl_handler : nullptr);
}

Mode mode() {
  return state().mode;
}

void refuse_registration(int k) {
  state().refuse_k = k;
}
int registration_attempts() {
  return state().attempts;
}
int load_calls() {
  return state().load_calls;
}
bool has_routine(const std::string& name) {
  return find_routine(name) != nullptr;
}

std::vector<RegisteredRoutine> registered() {
  std::vector<RegisteredRoutine> out;
  for (const auto& r : state().routines) out.push_back({r.name, r.arg_min, r.arg_max});
  return out;
}

bool call(const std::string& name, std::vector<IDL_VPTR> args) {
  State& s = state();
  if (s.broken) {
    print_line("% " + name + ": host state is corrupt after an earlier error; call refused.");
    return false;
  }
  const DlmRoutine* described = find_dlm_routine(name);
  if (described && s.handle == nullptr && ensure_loaded() != 1) {
    print_line("% Failed to load module " + s.module_name + ".");
    return false;
  }
  RoutineEntry* routine = find_routine(name);
  if (!routine) {
    print_line("% Attempt to call undefined procedure: '" + name + "'.");
    return false;
  }
  // The open host enforces the description file's counts, IDL the record's.
  int arg_min = routine->arg_min, arg_max = routine->arg_max;
  if (s.mode == Mode::open && described) {
    arg_min = described->arg_min;
    arg_max = described->arg_max;
  }
  const int argc = static_cast<int>(args.size());
  if (argc < arg_min || argc > arg_max) {
    print_line("% " + name + ": Incorrect number of arguments.");
    return false;
  }
  s.current_routine = name;
  const std::size_t first_line = s.printed.size();
  std::vector<LoggedArgument> logged;
  if (call_log_wanted()) logged = arguments_before(args);
  bool ok = true;
  try {
    routine->pro(argc, args.data(), nullptr);
  } catch (const std::exception& e) {
    // Unwinding skipped the host's own clean-up: later calls are refused.
    print_line("% " + name + ": " + e.what());
    s.broken = true;
    ok = false;
  }
  if (call_log_wanted()) {
    log_call(name, std::move(logged), args, {s.printed.begin() + first_line, s.printed.end()});
  }
  s.current_routine.clear();
  s.temporaries.clear();
  return ok;
}

}  // namespace vokip_host

using vokip_host::state;

extern "C" int IDL_SysRtnAdd(IDL_SYSFUN_DEF2* defs, int is_function, int cnt) {
  ++state().attempts;
  if (state().refuse_k == state().attempts) return 0;
  (void)is_function;
  for (int k = 0; k < cnt; ++k) {
    const IDL_SYSFUN_DEF2& d = defs[k];
    vokip_host::RoutineEntry entry{d.name, d.funct_addr.pro, d.arg_min, d.arg_max};
    if (auto* existing = vokip_host::find_routine(entry.name))
      *existing = entry;
    else
      state().routines.push_back(entry);
  }
  return 1;
}
