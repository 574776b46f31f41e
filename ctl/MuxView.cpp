#include "ctl/MuxView.h"

#include <fmt/format.h>

#include <charconv>
#include <set>

#include "ctl/JsonParts.h"
#include "velaclock/ControlProtocol.h"

namespace velaclockctl {

namespace {
using velaclock::cellName;

// The source whose select bits `value` holds under the mux's mask, or "-".
std::string decodedSource(const Json& mux, std::uint8_t value) {
  const auto mask = unsignedAt(mux, "bitMask").value_or(0) & 0xFFU;
  const Json offered = objectAt(mux, "source");
  for (const auto& [name, source] : offered.items()) {
    if ((value & mask) == (unsignedAt(source, "bitValue").value_or(0) & 0xFFU)) return name;
  }
  return "-";
}
}  // namespace

std::string MuxView::Chain::text() const {
  return muxes.empty() ? "-" : fmt::format("{}", fmt::join(muxes, ">"));
}

MuxView::MuxView(const Json& config, const Json& status, std::string registers)
    : muxes_(objectAt(config, "muxConfig")),
      status_(objectAt(status, "muxStatus")),
      registers_(std::move(registers)) {}

std::optional<std::uint8_t> MuxView::registerNow(const std::string& name) const {
  const Json m = objectAt(muxes_, name);
  const auto address = unsignedAt(m, "controlRegister");
  if (!address || unsignedAt(m, "muxAccessMethod").value_or(0) != 0 ||
      *address >= registers_.size() / 2) {
    return std::nullopt;
  }
  const char* digits = registers_.data() + 2 * *address;
  std::uint8_t value = 0;
  const auto [end, error] = std::from_chars(digits, digits + 2, value, 16);
  if (error != std::errc() || end != digits + 2) return std::nullopt;
  return value;
}

std::string MuxView::selects(const std::string& name) const {
  if (const auto value = registerNow(name)) return decodedSource(objectAt(muxes_, name), *value);
  // A mux never switched has an empty selection: nothing, as everywhere else.
  const auto selected = stringAt(objectAt(status_, name), "sourceSelect");
  return selected && !selected->empty() ? *selected : "-";
}

MuxView::Chain MuxView::chain(const std::string& sink) const {
  std::string current;
  for (const auto& [name, m] : muxes_.items()) {
    if (objectAt(m, "sink").contains(sink)) {
      current = name;
      break;
    }
  }
  Chain chain;
  std::set<std::string> seen;
  while (!current.empty() && seen.insert(current).second) {
    chain.muxes.insert(chain.muxes.begin(), current);
    const std::string selected = selects(current);
    if (!muxes_.contains(selected)) {
      chain.carries = selected;
      break;
    }
    current = selected;
  }
  return chain;
}

MuxView fetchMuxView(Client& client) {
  std::string registers;
  try {
    registers = client.request({{"op", "regs"}, {"ham", "IntelGpioHam"}})
                    .member("registers", Shape::string)
                    .get<std::string>();
  } catch (const Refused&) {
  }
  return MuxView(entityAt(client, "hardware/clockmux/config/" + cellName),
                 entityAt(client, "hardware/clockmux/status/" + cellName), std::move(registers));
}

}  // namespace velaclockctl
