// How every procedure shell takes its arguments from the host: conversion to
// the element type it needs, then count, data address and first dimension.
#pragma once

#include <cstdint>

#include "module/host_api.h"

template <class T>
struct HostArray {
  T* data = nullptr;
  IDL_MEMINT count = 0;  // elements (1 for a scalar)
  IDL_MEMINT width = 1;  // first dimension; a scalar counts as width 1
};

// The host's type code for each element type the procedures use.
template <class T>
constexpr int host_type_code();
template <>
constexpr int host_type_code<std::uint8_t>() {
  return IDL_TYP_BYTE;
}
template <>
constexpr int host_type_code<std::uint16_t>() {
  return IDL_TYP_UINT;
}
template <>
constexpr int host_type_code<double>() {
  return IDL_TYP_DOUBLE;
}

// Converts argument i to the element type and returns its data. An input may
// come back as a converted temporary; that is fine for reading.
HostArray<void> convert_argument(IDL_VPTR argv[], int i, int type);

template <class T>
HostArray<const T> input_array(IDL_VPTR argv[], int i) {
  HostArray<void> a = convert_argument(argv, i, host_type_code<T>());
  return {static_cast<const T*>(a.data), a.count, a.width};
}

// An output must be the caller's own variable of the required type, or the
// results would land in a temporary and be lost. Returns false then (the
// output is left alone and nothing should be computed).
bool convert_output(IDL_VPTR argv[], int i, int type, HostArray<void>* out);

template <class T>
bool output_array(IDL_VPTR argv[], int i, HostArray<T>* out) {
  HostArray<void> a;
  if (!convert_output(argv, i, host_type_code<T>(), &a)) return false;
  *out = {static_cast<T*>(a.data), a.count, a.width};
  return true;
}

// A scalar argument as a double. A numeric scalar is read from its own type
// (a host's scalar conversion is not relied upon); an array gives its first
// element through the host's conversion; an empty result gives NaN.
double scalar_argument(IDL_VPTR argv[], int i);
