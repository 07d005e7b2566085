#include <dlfcn.h>

#include "host/library.h"

namespace vokip_host {

std::string library_path(const std::string& dir, const std::string& name) {
  return dir + "/" + name + ".so";
}

void* open_library(const std::string& path, bool global, std::string* error) {
  void* library =
      dlopen(path.c_str(), global ? (RTLD_LAZY | RTLD_GLOBAL) : (RTLD_NOW | RTLD_LOCAL));
  if (!library) *error = dlerror();
  return library;
}

void* library_entry(void* library, const char* name) {
  return dlsym(library, name);
}

void close_library(void* library) {
  dlclose(library);
}

}  // namespace vokip_host
