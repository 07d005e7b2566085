#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "host/state.h"

namespace vokip_host {

State& state() {
  static State s;
  return s;
}

int element_size(int type) {
  switch (type) {
    case IDL_TYP_BYTE:
      return 1;
    case IDL_TYP_INT:
    case IDL_TYP_UINT:
      return 2;
    case IDL_TYP_LONG:
    case IDL_TYP_ULONG:
    case IDL_TYP_FLOAT:
      return 4;
    case IDL_TYP_DOUBLE:
    case IDL_TYP_LONG64:
    case IDL_TYP_ULONG64:
      return 8;
    default:
      return 0;
  }
}

namespace {

// Integer conversion as the host does it for in-range values (truncation
// toward zero), wrapping modulo the type's width, and 0 for what no integer
// can hold (NaN, infinities), so no conversion is undefined behaviour.
std::uint64_t integer_bits(double value) {
  if (!std::isfinite(value)) return 0;
  if (value >= 9.2233720368547758e18)
    return static_cast<std::uint64_t>(value < 1.8446744073709552e19 ? value : 0);
  if (value <= -9.2233720368547758e18) return 0;
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
}

template <class T>
void store_integer(void* data, IDL_MEMINT i, double value) {
  static_cast<T*>(data)[i] = static_cast<T>(integer_bits(value));
}

}  // namespace

double read_element(int type, const void* data, IDL_MEMINT i) {
  switch (type) {
    case IDL_TYP_BYTE:
      return static_cast<const std::uint8_t*>(data)[i];
    case IDL_TYP_INT:
      return static_cast<const std::int16_t*>(data)[i];
    case IDL_TYP_UINT:
      return static_cast<const std::uint16_t*>(data)[i];
    case IDL_TYP_LONG:
      return static_cast<const std::int32_t*>(data)[i];
    case IDL_TYP_ULONG:
      return static_cast<const std::uint32_t*>(data)[i];
    case IDL_TYP_FLOAT:
      return static_cast<const float*>(data)[i];
    case IDL_TYP_DOUBLE:
      return static_cast<const double*>(data)[i];
    case IDL_TYP_LONG64:
      return static_cast<double>(static_cast<const std::int64_t*>(data)[i]);
    case IDL_TYP_ULONG64:
      return static_cast<double>(static_cast<const std::uint64_t*>(data)[i]);
    default:
      throw std::invalid_argument("not a numeric type");
  }
}

void write_element(int type, void* data, IDL_MEMINT i, double value) {
  switch (type) {
    case IDL_TYP_BYTE:
      return store_integer<std::uint8_t>(data, i, value);
    case IDL_TYP_INT:
      return store_integer<std::uint16_t>(data, i, value);
    case IDL_TYP_UINT:
      return store_integer<std::uint16_t>(data, i, value);
    case IDL_TYP_LONG:
    case IDL_TYP_ULONG:
      return store_integer<std::uint32_t>(data, i, value);
    case IDL_TYP_LONG64:
    case IDL_TYP_ULONG64:
      return store_integer<std::uint64_t>(data, i, value);
    case IDL_TYP_FLOAT:
      static_cast<float*>(data)[i] = static_cast<float>(value);
      return;
    case IDL_TYP_DOUBLE:
      static_cast<double*>(data)[i] = value;
      return;
    default:
      throw std::invalid_argument("not a numeric type");
  }
}

Variable* new_variable(int type, const std::vector<IDL_MEMINT>& dims, bool temporary) {
  const int size = element_size(type);
  if (size == 0) throw std::invalid_argument("not a numeric type");
  if (dims.empty() || dims.size() > IDL_MAX_ARRAY_DIM)
    throw std::invalid_argument("1 to 8 dimensions");
  IDL_MEMINT n = 1;
  for (IDL_MEMINT d : dims) {
    if (d < 1) throw std::invalid_argument("dimensions must be positive");
    n *= d;
  }
  auto v = std::make_unique<Variable>();
  v->data.reset(new unsigned char[static_cast<std::size_t>(n * size)]);
  std::memset(v->data.get(), 0, static_cast<std::size_t>(n * size));
  v->arr.elt_len = size;
  v->arr.arr_len = n * size;
  v->arr.n_elts = n;
  v->arr.data = v->data.get();
  v->arr.n_dim = static_cast<UCHAR>(dims.size());
  for (std::size_t k = 0; k < dims.size(); ++k) v->arr.dim[k] = dims[k];
  v->var.type = static_cast<UCHAR>(type);
  v->var.flags = IDL_V_ARR | IDL_V_DYNAMIC | (temporary ? IDL_V_TEMP : 0);
  v->var.value.arr = &v->arr;
  Variable* raw = v.get();
  if (temporary)
    state().temporaries.push_back(std::move(v));
  else
    state().variables.push_back(std::move(v));
  return raw;
}

Variable* new_scalar(int type, bool temporary) {
  if (element_size(type) == 0) throw std::invalid_argument("not a numeric type");
  auto v = std::make_unique<Variable>();
  v->var.type = static_cast<UCHAR>(type);
  v->var.flags = temporary ? IDL_V_TEMP : 0;
  Variable* raw = v.get();
  if (temporary)
    state().temporaries.push_back(std::move(v));
  else
    state().variables.push_back(std::move(v));
  return raw;
}

IDL_VPTR make_array(int type, const std::vector<IDL_MEMINT>& dims) {
  return &new_variable(type, dims, false)->var;
}

IDL_VPTR make_scalar(int type, double value) {
  Variable* v = new_scalar(type, false);
  write_element(type, &v->var.value, 0, value);
  return &v->var;
}

IDL_VPTR make_array_from(int type, const std::vector<double>& values,
                         std::vector<IDL_MEMINT> dims) {
  if (dims.empty()) dims = {static_cast<IDL_MEMINT>(values.size())};
  Variable* v = new_variable(type, dims, false);
  if (static_cast<IDL_MEMINT>(values.size()) != v->arr.n_elts)
    throw std::invalid_argument("values do not fill the dimensions");
  for (IDL_MEMINT i = 0; i < v->arr.n_elts; ++i) write_element(type, v->arr.data, i, values[i]);
  return &v->var;
}

IDL_VPTR make_bytes(const std::vector<std::uint8_t>& bytes) {
  Variable* v = new_variable(IDL_TYP_BYTE, {static_cast<IDL_MEMINT>(bytes.size())}, false);
  std::memcpy(v->arr.data, bytes.data(), bytes.size());
  return &v->var;
}

IDL_MEMINT count(IDL_VPTR v) {
  return (v->flags & IDL_V_ARR) ? v->value.arr->n_elts : 1;
}

void* data(IDL_VPTR v) {
  return (v->flags & IDL_V_ARR) ? static_cast<void*>(v->value.arr->data)
                                : static_cast<void*>(&v->value);
}

std::vector<double> values(IDL_VPTR v) {
  std::vector<double> out(static_cast<std::size_t>(count(v)));
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = read_element(v->type, data(v), i);
  return out;
}

}  // namespace vokip_host
