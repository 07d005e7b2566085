// Type conversion and data access, as the host answers them.
#include <cstring>

#include "host/state.h"

using vokip_host::Mode;
using vokip_host::state;
using vokip_host::Variable;

namespace {

bool is_array(IDL_VPTR v) {
  return (v->flags & IDL_V_ARR) != 0;
}

IDL_VPTR convert(IDL_VPTR source, int type) {
  if (source->type == type) return source;  // the caller's own variable
  if (!is_array(source)) {
    Variable* t = vokip_host::new_scalar(type, true);
    const double value = vokip_host::read_element(source->type, &source->value, 0);
    if (state().mode == Mode::open && type == IDL_TYP_DOUBLE) {
      // The open host keeps a 16-bit truncation in the integer member, so
      // the double member reads as garbage.
      std::memset(&t->var.value, 0, sizeof t->var.value);
      t->var.value.i = static_cast<IDL_INT>(static_cast<long long>(value));
    } else {
      vokip_host::write_element(type, &t->var.value, 0, value);
    }
    return &t->var;
  }
  const IDL_ARRAY* from = source->value.arr;
  std::vector<IDL_MEMINT> dims(from->dim, from->dim + from->n_dim);
  Variable* t = vokip_host::new_variable(type, dims, true);
  for (IDL_MEMINT i = 0; i < from->n_elts; ++i) {
    vokip_host::write_element(type, t->arr.data, i,
                              vokip_host::read_element(source->type, from->data, i));
  }
  return &t->var;
}

}  // namespace

extern "C" {

IDL_VPTR IDL_BasicTypeConversion(int argc, IDL_VPTR argv[], int type) {
  IDL_VPTR result = nullptr;
  for (int i = 0; i < argc; ++i) result = convert(argv[i], type);
  return result;
}

void IDL_VarGetData(IDL_VPTR v, IDL_MEMINT* n, char** pd, int /*ensure_simple*/) {
  if (is_array(v)) {
    *n = v->value.arr->n_elts;
    *pd = reinterpret_cast<char*>(v->value.arr->data);
  } else {
    *n = 1;
    *pd = reinterpret_cast<char*>(&v->value);
  }
}

}  // extern "C"
