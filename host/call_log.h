// A log of the calls a session made into the module, to replay them on
// another build of it and compare: each call's mode, procedure, arguments
// before and after the call, and the lines it printed.
//
// A program run with VOKIP_HOST_CALL_LOG=FILE appends every call that reaches
// a module's procedure to FILE.
#pragma once

#include <string>
#include <vector>

#include "host/host.h"

namespace vokip_host {

struct LoggedArgument {
  int same_as = -1;  // an earlier argument that was the same variable, else -1
  int type = 0;
  std::vector<IDL_MEMINT> dims;  // empty for a scalar
  std::string before, after;     // the elements' bytes
};

struct LoggedCall {
  Mode mode = Mode::idl;
  std::string name;
  std::vector<LoggedArgument> arguments;
  std::vector<std::string> lines;
};

// The calls in a log, in order. Throws std::runtime_error when the file cannot
// be read or is not a whole log.
std::vector<LoggedCall> read_call_log(const std::string& path);

// Host variables as the call's arguments were before it: new ones of each
// argument's type, shape and contents, the same one where the call passed
// one variable twice.
std::vector<IDL_VPTR> make_logged_arguments(const LoggedCall& call);

}  // namespace vokip_host
