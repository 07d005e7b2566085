// The stand-in host: a small host that loads the module exactly as the real
// one does (reads the .dlm, dlopen, IDL_Load, calls by name), holds variables
// in the host's own records, converts types like the host and prints messages
// into a sink tests can read. It exports the host's five operations, so a
// module whose IDL_* references are undefined resolves against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/host_api.h"

namespace vokip_host {

// idl: behaves as IDL does. open: behaves as the open host GDL does where it
// differs (messages print their first format argument, non-double scalars
// convert to DOUBLE as a 16-bit truncation in value.i, argument counts come
// from the .dlm, IDL_Load runs when the .dlm is read, GSL errors throw).
enum class Mode { idl, open };

// Forgets routines, message blocks, printed lines, variables and failure
// settings, unloads any module, and starts over in the given mode.
void reset(Mode mode = Mode::idl);
Mode mode();

// ---- Variables (owned by the host until reset) ----
// Element size in bytes of a numeric type code; 0 for others.
int element_size(int type);
// An array of up to 8 dimensions (dims[0] varies fastest), zero-filled.
IDL_VPTR make_array(int type, const std::vector<IDL_MEMINT>& dims);
// A scalar holding value converted to the type (as the host would store it).
IDL_VPTR make_scalar(int type, double value);
// Arrays filled from values, converted element by element to the type.
IDL_VPTR make_array_from(int type, const std::vector<double>& values,
                         std::vector<IDL_MEMINT> dims = {});
IDL_VPTR make_bytes(const std::vector<std::uint8_t>& bytes);
// Element count (1 for a scalar) and data address (the value for a scalar).
IDL_MEMINT count(IDL_VPTR v);
void* data(IDL_VPTR v);
template <class T>
T* data_as(IDL_VPTR v) {
  return static_cast<T*>(data(v));
}
// Every element read as a double, whatever the type.
std::vector<double> values(IDL_VPTR v);

// ---- Messages ----
// Lines printed so far, each as the host prints it ("% UNPCK: ..."), no newline.
const std::vector<std::string>& printed();
void clear_printed();
// Also copy every printed line to stderr (as a real host does).
void echo_to_stderr(bool on);

// The definitions of a message block as the host keeps them (idl mode).
struct BlockMessage {
  std::string name;
  std::string format;
};
std::vector<BlockMessage> message_block(const std::string& block_name);

// ---- Modules and routines ----
// Loads the module described by dir/name.dlm from dir/name.so. In idl mode the
// library is opened and IDL_Load called at the first call of one of its
// routines; in open mode right away. Returns false, and prints why, when the
// .dlm cannot be read or is refused. load_result() gives IDL_Load's result
// once it has run (-1 before).
bool load_module(const std::string& dir, const std::string& name = "vokip");
int load_result();
// Opens the module and calls IDL_Load now (idl mode defers it otherwise).
int ensure_loaded();
// Calls a routine by name with the given arguments. Returns false, and prints
// the host's error, when the routine is unknown, the argument count is outside
// its limits, or the host is broken by an exception escaping a module.
bool call(const std::string& name, std::vector<IDL_VPTR> args);
bool has_routine(const std::string& name);
// Registered routines in registration order, with their record's counts.
struct RegisteredRoutine {
  std::string name;
  int arg_min;
  int arg_max;
};
std::vector<RegisteredRoutine> registered();
// Registrations the module offered (accepted or not), and IDL_Load calls made.
int registration_attempts();
int load_calls();

// ---- Failure injection, for tests ----
void refuse_message_block(bool refuse);
// Refuse the k-th IDL_SysRtnAdd call (counted from 1); 0 refuses none.
void refuse_registration(int k);

// ---- Module description files ----
struct DlmRoutine {
  std::string name;
  int arg_min;
  int arg_max;
  bool is_function;
};
struct DlmFile {
  std::string module;
  std::vector<DlmRoutine> routines;
  std::string error;  // empty when the file is acceptable
};
// Parses a .dlm as the given host would: idl takes keyword lines by their
// first word; open searches each line for the upper-case words MODULE,
// PROCEDURE and FUNCTION anywhere (exactly one MODULE line allowed).
DlmFile parse_dlm(const std::string& text, Mode as);

}  // namespace vokip_host
