#include "host/call_log.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "host/state.h"

namespace vokip_host {

namespace {

// Native byte order: a log is replayed on the same processor family.
template <class T>
void put(std::ofstream& out, T value) {
  out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

void put_text(std::ofstream& out, const std::string& text) {
  put<std::uint64_t>(out, text.size());
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

template <class T>
T get(std::ifstream& in) {
  T value{};
  if (!in.read(reinterpret_cast<char*>(&value), sizeof value))
    throw std::runtime_error("call log ends inside a record");
  return value;
}

std::string get_text(std::ifstream& in) {
  const auto size = get<std::uint64_t>(in);
  if (size > (std::uint64_t{1} << 32)) throw std::runtime_error("call log has a corrupt length");
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!in.read(text.data(), static_cast<std::streamsize>(size)))
    throw std::runtime_error("call log ends inside a record");
  return text;
}

std::string bytes_of(IDL_VPTR v) {
  return std::string(static_cast<const char*>(data(v)),
                     static_cast<std::size_t>(count(v) * element_size(v->type)));
}

}  // namespace

bool call_log_wanted() {
  static const bool wanted = std::getenv("VOKIP_HOST_CALL_LOG") != nullptr;
  return wanted;
}

std::vector<LoggedArgument> arguments_before(const std::vector<IDL_VPTR>& args) {
  std::vector<LoggedArgument> logged;
  for (IDL_VPTR v : args) {
    LoggedArgument a;
    a.same_as = static_cast<int>(std::find(args.begin(), args.end(), v) - args.begin());
    if (a.same_as == static_cast<int>(logged.size())) a.same_as = -1;
    a.type = v->type;
    if (v->flags & IDL_V_ARR) {
      const IDL_ARRAY* arr = v->value.arr;
      a.dims.assign(arr->dim, arr->dim + arr->n_dim);
    }
    a.before = bytes_of(v);
    logged.push_back(std::move(a));
  }
  return logged;
}

void log_call(const std::string& name, std::vector<LoggedArgument> arguments,
              const std::vector<IDL_VPTR>& args, std::vector<std::string> lines) {
  static std::ofstream out(std::getenv("VOKIP_HOST_CALL_LOG"), std::ios::binary | std::ios::app);
  for (std::size_t k = 0; k < args.size(); ++k) arguments[k].after = bytes_of(args[k]);
  put<std::uint8_t>(out, state().mode == Mode::open ? 1 : 0);
  put_text(out, name);
  put<std::uint64_t>(out, arguments.size());
  for (const LoggedArgument& a : arguments) {
    put<std::int32_t>(out, a.same_as);
    put<std::int32_t>(out, a.type);
    put<std::uint64_t>(out, a.dims.size());
    for (IDL_MEMINT d : a.dims) put<std::int64_t>(out, d);
    put_text(out, a.before);
    put_text(out, a.after);
  }
  put<std::uint64_t>(out, lines.size());
  for (const std::string& line : lines) put_text(out, line);
  out.flush();
}

std::vector<LoggedCall> read_call_log(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the call log " + path);
  std::vector<LoggedCall> calls;
  while (in.peek() != std::ifstream::traits_type::eof()) {
    LoggedCall call;
    call.mode = get<std::uint8_t>(in) == 1 ? Mode::open : Mode::idl;
    call.name = get_text(in);
    const auto arguments = get<std::uint64_t>(in);
    for (std::uint64_t k = 0; k < arguments; ++k) {
      LoggedArgument a;
      a.same_as = get<std::int32_t>(in);
      if (a.same_as >= static_cast<int>(k))
        throw std::runtime_error("call log has a corrupt argument");
      a.type = get<std::int32_t>(in);
      const auto dims = get<std::uint64_t>(in);
      if (dims > IDL_MAX_ARRAY_DIM) throw std::runtime_error("call log has a corrupt shape");
      for (std::uint64_t d = 0; d < dims; ++d) a.dims.push_back(get<std::int64_t>(in));
      a.before = get_text(in);
      a.after = get_text(in);
      call.arguments.push_back(std::move(a));
    }
    const auto lines = get<std::uint64_t>(in);
    for (std::uint64_t k = 0; k < lines; ++k) call.lines.push_back(get_text(in));
    calls.push_back(std::move(call));
  }
  return calls;
}

std::vector<IDL_VPTR> make_logged_arguments(const LoggedCall& call) {
  std::vector<IDL_VPTR> args;
  for (const LoggedArgument& a : call.arguments) {
    if (a.same_as >= 0) {
      args.push_back(args[a.same_as]);
      continue;
    }
    IDL_VPTR v = a.dims.empty() ? make_scalar(a.type, 0) : make_array(a.type, a.dims);
    if (a.before.size() != static_cast<std::size_t>(count(v) * element_size(v->type)))
      throw std::runtime_error("call log argument does not fill its shape");
    std::memcpy(data(v), a.before.data(), a.before.size());
    args.push_back(v);
  }
  return args;
}

}  // namespace vokip_host
