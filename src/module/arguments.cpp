#include "module/arguments.h"

#include <limits>

namespace {

bool is_array(IDL_VPTR v) {
  return (v->flags & IDL_V_ARR) != 0;
}

HostArray<void> data_of(IDL_VPTR converted) {
  HostArray<void> a;
  char* data = nullptr;
  IDL_MEMINT count = 0;
  IDL_VarGetData(converted, &count, &data, 0);
  a.data = data;
  a.count = count;
  a.width = is_array(converted) ? converted->value.arr->dim[0] : 1;
  return a;
}

}  // namespace

HostArray<void> convert_argument(IDL_VPTR argv[], int i, int type) {
  return data_of(IDL_BasicTypeConversion(1, &argv[i], type));
}

bool convert_output(IDL_VPTR argv[], int i, int type, HostArray<void>* out) {
  IDL_VPTR caller = argv[i];
  // Converting an output of another type would only make a temporary.
  if (caller->type != type) return false;
  IDL_VPTR converted = IDL_BasicTypeConversion(1, &argv[i], type);
  if (converted != caller) return false;
  *out = data_of(converted);
  return true;
}

double scalar_argument(IDL_VPTR argv[], int i) {
  IDL_VPTR v = argv[i];
  if (!is_array(v)) {
    const IDL_ALLTYPES& value = v->value;
    switch (v->type) {
      case IDL_TYP_BYTE:
        return value.c;
      case IDL_TYP_INT:
        return value.i;
      case IDL_TYP_LONG:
        return value.l;
      case IDL_TYP_FLOAT:
        return value.f;
      case IDL_TYP_DOUBLE:
        return value.d;
      case IDL_TYP_UINT:
        return value.ui;
      case IDL_TYP_ULONG:
        return value.ul;
      case IDL_TYP_LONG64:
        return static_cast<double>(value.l64);
      case IDL_TYP_ULONG64:
        return static_cast<double>(value.ul64);
      default:
        break;
    }
  }
  HostArray<const double> first = input_array<double>(argv, i);
  if (first.count < 1) return std::numeric_limits<double>::quiet_NaN();
  return first.data[0];
}
