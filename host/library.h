// Opening a module's shared library and finding its load entry, the one
// part of loading that differs between operating systems.
#pragma once

#include <string>

namespace vokip_host {

// dir/name.so on Linux, dir\name.dll on Windows.
std::string library_path(const std::string& dir, const std::string& name);

// Opens the library; null, with the system's reason in *error, when it cannot.
// On Linux a global library lends its symbols to libraries opened later and
// resolves its own only when used (the open host), a local one keeps them and
// resolves all at once (IDL). Windows resolves a DLL's imports by the name of
// the DLL that exports them, so there is only one way.
void* open_library(const std::string& path, bool global, std::string* error);

// The address of an exported function; null when there is none.
void* library_entry(void* library, const char* name);

void close_library(void* library);

}  // namespace vokip_host
