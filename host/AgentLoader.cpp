#include "host/AgentLoader.h"

#include <dlfcn.h>

namespace velaclockd {

AgentLibrary loadAgentLibrary(const std::filesystem::path& library) {
  // Never unloaded: the library registers its types with the process for as long as it runs.
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    throw AgentLoadError("cannot load the agent library " + library.string() + ": " + dlerror());
  }
  const auto* factory = static_cast<const CAgentFactory*>(dlsym(handle, "kelAgentFactory"));
  if (!factory || !*factory) {
    throw AgentLoadError("the agent library " + library.string() +
                         " exports no agent factory `kelAgentFactory`");
  }
  const auto* planner =
      static_cast<const CAgentRoutePlanner*>(dlsym(handle, "kelAgentRoutePlanner"));
  const auto* applier =
      static_cast<const CAgentRouteApplier*>(dlsym(handle, "kelAgentRouteApplier"));
  return AgentLibrary{*factory, planner ? *planner : nullptr, applier ? *applier : nullptr};
}

}  // namespace velaclockd
