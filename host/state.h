// The stand-in host's private state. The host's operations are plain C
// functions with no context argument, so there is one host per process.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "host/call_log.h"
#include "host/host.h"

namespace vokip_host {

struct Variable {
  IDL_VARIABLE var{};
  IDL_ARRAY arr{};
  // Exactly the array's bytes, so a read one element too far is caught.
  std::unique_ptr<unsigned char[]> data;
};

struct MessageBlock {
  std::string name;
  std::vector<std::string> names;
  std::vector<std::string> formats;
};

struct RoutineEntry {
  std::string name;
  IDL_SYSRTN_PRO pro = nullptr;
  int arg_min = 0;
  int arg_max = 0;
};

struct State {
  Mode mode = Mode::idl;
  std::deque<std::unique_ptr<Variable>> variables;
  std::vector<std::unique_ptr<Variable>> temporaries;  // freed after each call
  std::vector<std::unique_ptr<MessageBlock>> blocks;
  std::vector<std::string> printed;
  bool echo = false;
  std::vector<RoutineEntry> routines;
  std::string current_routine;
  bool refuse_block = false;
  int refuse_k = 0;
  int attempts = 0;
  int load_calls = 0;
  bool broken = false;
  // The module described by the last load_module call.
  std::string module_dir;
  std::string module_name;
  DlmFile dlm;
  bool dlm_read = false;
  void* handle = nullptr;
  int load_result = -1;
};

State& state();

// A new variable owned by the host (or by the current call when temporary).
Variable* new_variable(int type, const std::vector<IDL_MEMINT>& dims, bool temporary);
Variable* new_scalar(int type, bool temporary);
// Element i of a numeric variable's data, read as a double.
double read_element(int type, const void* data, IDL_MEMINT i);
// Stores a double into element i, converting as the host does.
void write_element(int type, void* data, IDL_MEMINT i, double value);
// Prints one line into the sink ("% " already included).
void print_line(const std::string& line);
void unload_module();
// The call log (call_log.h): whether VOKIP_HOST_CALL_LOG names one, the
// arguments before a call, and the finished record after it.
bool call_log_wanted();
std::vector<LoggedArgument> arguments_before(const std::vector<IDL_VPTR>& args);
void log_call(const std::string& name, std::vector<LoggedArgument> arguments,
              const std::vector<IDL_VPTR>& args, std::vector<std::string> lines);

}  // namespace vokip_host
