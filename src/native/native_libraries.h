// The native libraries one run has loaded: their handles and the entry points
// looked up in them. The run owns one object of this class; destroying it
// closes every library, so no handle outlives the run.
#pragma once

#include <map>
#include <string>

namespace qp {

class NativeLibraries {
 public:
  NativeLibraries() = default;
  NativeLibraries(const NativeLibraries&) = delete;
  NativeLibraries& operator=(const NativeLibraries&) = delete;
  ~NativeLibraries() { CloseAll(); }

  // Closes the library loaded under `name` (if any) and drops its cached
  // entry points, so that none of them can be called after it has gone.
  void Forget(const std::string& name);
  // Closes every library and empties both tables.
  void CloseAll();

  std::map<std::string, void*> handles;    // name -> dlopen handle (null: the load failed)
  std::map<std::string, void*> functions;  // "lib.func" -> entry point
};

}  // namespace qp
