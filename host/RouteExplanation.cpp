#include "host/RouteExplanation.h"

#include <map>
#include <optional>
#include <utility>

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"

namespace velaclockd {

namespace {
using Json = nlohmann::ordered_json;

// Registers as they would be while the plan is carried out, starting from the banks' contents.
class RegisterImage {
 public:
  // The register's value now, in this image: a simulated bank is looked at, a real one read;
  // nullopt when no bank holds it or it cannot be read.
  std::optional<std::uint8_t> value(const Kel::String& ham, std::uint32_t address) {
    const auto key = std::pair(ham, address);
    if (const auto it = values_.find(key); it != values_.end()) return it->second;
    const auto impl = Fru::describedHamImpl(ham);
    if (!impl || address >= impl->registerCount()) return std::nullopt;
    if (const auto bank = Kel::dynamicPtrCast<Fru::SimRegisterBank>(impl)) {
      return values_[key] = bank->peek(address);
    }
    std::uint8_t data = 0;
    if (impl->read8(address, data) != Fru::AccessStatus::ok) return std::nullopt;
    return values_[key] = data;
  }
  void valueIs(const Kel::String& ham, std::uint32_t address, std::uint8_t value) {
    values_[{ham, address}] = value;
  }

 private:
  std::map<std::pair<Kel::String, std::uint32_t>, std::uint8_t> values_;
};

Json stepJson(const Clock::Mux::RouteStep& step, RegisterImage& image) {
  Json json{{"mux", step.mux},
            {"selects", step.selects},
            {"controlRegister", step.controlRegister},
            {"bitMask", step.bitMask},
            {"bitValue", step.bitValue},
            {"muxAccessMethod", static_cast<unsigned>(step.method)},
            {"before", nullptr},
            {"after", nullptr}};
  if (step.ham.empty()) return json;
  if (const auto before = image.value(step.ham, step.controlRegister)) {
    // As programming does: bits outside the mask keep their value.
    const auto after = static_cast<std::uint8_t>((*before & ~step.bitMask) | step.bitValue);
    image.valueIs(step.ham, step.controlRegister, after);
    json["before"] = *before;
    json["after"] = after;
  }
  return json;
}
}  // namespace

Json explainRoute(const Clock::Mux::RoutePlan& plan) {
  Json reply{{"ok", true},
             {"found", plan.failure.empty()},
             {"failure", plan.failure},
             {"searched", plan.searched},
             {"steps", Json::array()}};
  RegisterImage image;
  for (const auto& step : plan.steps) reply["steps"].push_back(stepJson(step, image));
  return reply;
}

}  // namespace velaclockd
