#include "ctl/MuxView.h"

#include <fmt/format.h>

#include <set>

namespace velaclockctl {

namespace {
const MuxView::Json none = MuxView::Json::object();

// The source whose select bits `value` holds under the mux's mask, or "-".
std::string decodedSource(const MuxView::Json& mux, std::uint8_t value) {
  const auto mask = mux.value("bitMask", 0U) & 0xFFU;
  const MuxView::Json offered = mux.value("source", MuxView::Json::object());
  for (const auto& [name, source] : offered.items()) {
    if ((value & mask) == (source.value("bitValue", 0U) & 0xFFU)) return name;
  }
  return "-";
}
}  // namespace

std::string MuxView::Chain::text() const {
  return muxes.empty() ? "-" : fmt::format("{}", fmt::join(muxes, ">"));
}

MuxView::MuxView(const Json& config, const Json& status, std::string registers)
    : muxes_(config.value("muxConfig", Json::object())),
      status_(status.value("muxStatus", Json::object())),
      registers_(std::move(registers)) {}

const MuxView::Json& MuxView::mux(const std::string& name) const {
  const auto it = muxes_.find(name);
  return it == muxes_.end() || !it->is_object() ? none : *it;
}

std::optional<std::uint8_t> MuxView::registerNow(const std::string& name) const {
  const Json& m = mux(name);
  const std::size_t at = std::size_t{2} * m.value("controlRegister", 0U);
  if (m.empty() || m.value("muxAccessMethod", 0U) != 0 || at + 2 > registers_.size()) {
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(std::stoul(registers_.substr(at, 2), nullptr, 16));
}

std::string MuxView::selects(const std::string& name) const {
  if (const auto value = registerNow(name)) return decodedSource(mux(name), *value);
  const auto it = status_.find(name);
  const std::string named = it != status_.end() ? it->value("sourceSelect", "") : "";
  return named.empty() ? "-" : named;
}

MuxView::Chain MuxView::chain(const std::string& sink) const {
  std::string current;
  for (const auto& [name, m] : muxes_.items()) {
    if (m.is_object() && m.value("sink", Json::object()).contains(sink)) {
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

}  // namespace velaclockctl
