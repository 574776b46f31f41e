#include "host/AgentState.h"

#include <fmt/format.h>

#include "Kel/TypeInfo.h"
#include "Pps/Counter/Hal.h"
#include "Pps/Counter/SimPulse.h"

namespace velaclockd {

namespace {

// The count a saturated counter is held at: past its resting value of 1020.
constexpr std::uint16_t heldPastSaturation = 1500;

std::string referenceNames(const Kel::TypeInfo& type) {
  std::string names;
  for (const auto& attribute : type.attributes()) {
    if (attribute.kind != Kel::ValueKind::reference) continue;
    names += (names.empty() ? "" : ", ") + attribute.name;
  }
  return names.empty() ? "none" : names;
}

}  // namespace

Kel::Ptr<const Kel::PtrInterface> agentStateAt(const Kel::Ptr<const Kel::PtrInterface>& agent,
                                               std::string_view path) {
  if (!agent) throw AgentStateError("the agent is not running");
  Kel::Ptr<const Kel::PtrInterface> at = agent;
  std::string walked = "agent";
  while (!path.empty()) {
    const auto slash = path.find('/');
    const std::string_view name = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    const Kel::TypeInfo& type = at->fwkType();
    const auto* attribute = type.attribute(name);
    if (!attribute || attribute->kind != Kel::ValueKind::reference) {
      throw AgentStateError(fmt::format("{} ({}) has no reference `{}` (it has: {})", walked,
                                        type.name(), name, referenceNames(type)));
    }
    walked += "/" + std::string(name);
    at = attribute->reference(*at);
    if (!at) throw AgentStateError(walked + " holds nothing now");
  }
  return at;
}

PulseState simulatedPpsFaultIs(const Kel::Ptr<const Kel::PtrInterface>& agent,
                               std::string_view action) {
  if (action != "stop" && action != "start" && action != "glitch" && action != "saturate") {
    throw AgentStateError(fmt::format(
        "unknown simulated PPS fault `{}`: expected stop, start, glitch or saturate", action));
  }
  const auto object = agentStateAt(agent, "ppsWaiterSm/hal");
  const auto* hal = dynamic_cast<const Pps::Counter::Hal*>(object.get());
  if (!hal || !hal->followsSimPulse()) {
    throw AgentStateError(fmt::format(
        "the PPS waiter's counter ({}) is not driven by the simulated pulse: real hardware "
        "cannot be broken from here",
        object->fwkType().name()));
  }
  auto& pulse = Pps::Counter::simPulse();
  if (action == "stop") {
    pulse.pulseStoppedIs(true);
  } else if (action == "start") {
    pulse.countOverrideIs(std::nullopt);
    pulse.pulseStoppedIs(false);
  } else if (action == "glitch") {
    pulse.glitchIs();
  } else {
    pulse.countOverrideIs(heldPastSaturation);
  }
  return {pulse.pulseStopped(), pulse.countOverride() ? int{*pulse.countOverride()} : -1};
}

}  // namespace velaclockd
