#include <windows.h>

#include <algorithm>

#include "host/library.h"

namespace vokip_host {

std::string library_path(const std::string& dir, const std::string& name) {
  // LoadLibrary takes only backslashes as separators.
  std::string path = dir + "\\" + name + ".dll";
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

void* open_library(const std::string& path, bool /*global*/, std::string* error) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (!library) {
    const DWORD code = GetLastError();
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
    std::string reason = text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    *error = "error " + std::to_string(code) + (reason.empty() ? "" : ": " + reason);
  }
  return library;
}

void* library_entry(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void close_library(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace vokip_host
