#include "native/native_libraries.h"

#include <dlfcn.h>

namespace qp {

void NativeLibraries::Forget(const std::string& name) {
  auto library = handles.find(name);
  if (library == handles.end()) return;
  if (library->second != nullptr) dlclose(library->second);
  handles.erase(library);
  const std::string prefix = name + ".";
  for (auto it = functions.lower_bound(prefix); it != functions.end();) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    it = functions.erase(it);
  }
}

void NativeLibraries::CloseAll() {
  for (auto& [name, handle] : handles)
    if (handle != nullptr) dlclose(handle);
  handles.clear();
  functions.clear();
}

}  // namespace qp
