#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Kel/Ptr.h"
#include "Kel/PtrInterface.h"

namespace velaclockd {

// The running agent as the control service sees it: null before it is made and after tear-down.
using AgentView = std::function<Kel::Ptr<const Kel::PtrInterface>()>;

// The paths under which the control service shows the agent's own state, read-only:
// "agent/<attribute>[/<attribute>...]", each attribute a reference of the one before.
inline constexpr std::string_view agentPathPrefix = "agent/";

// A request about the agent's state that cannot be answered; the message says why.
class AgentStateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The object at `path` (after "agent/"), reached from `agent` through reflected references.
// Throws AgentStateError when there is no agent, an attribute is unknown or not a reference, or
// it holds nothing now.
Kel::Ptr<const Kel::PtrInterface> agentStateAt(const Kel::Ptr<const Kel::PtrInterface>& agent,
                                               std::string_view path);

// Breaks or mends the simulated pulse behind the PPS waiter's counter: "stop", "start" (which
// also ends a "saturate"), "glitch" (one spurious edge now) or "saturate" (the count held past
// 1020). Refused (AgentStateError) when the waiter's counter does not follow the simulated pulse,
// as on real hardware, or when there is no waiter or HAL. Returns the pulse's state after it:
// whether it is stopped, and the count it is held at, if any.
struct PulseState {
  bool stopped = false;
  int heldCount = -1;  // -1: not held
};
PulseState simulatedPpsFaultIs(const Kel::Ptr<const Kel::PtrInterface>& agent,
                               std::string_view action);

}  // namespace velaclockd
