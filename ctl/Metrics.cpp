#include "ctl/Metrics.h"

#include <fmt/format.h>

#include <array>
#include <charconv>
#include <sstream>

#include "ctl/JsonParts.h"
#include "velaclock/ControlProtocol.h"

namespace velaclockctl {

namespace {

using velaclock::cellName;

// A label value with backslash, double quote and line feed escaped, as the format asks.
std::string labelValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

class Exposition {
 public:
  // Starts the family `name` with its help text and type.
  void family(const std::string& name, const char* type, const char* help) {
    out_ += fmt::format("# HELP {} {}\n# TYPE {} {}\n", name, help, name, type);
  }
  void sample(const std::string& name, const std::string& labels, const std::string& value) {
    out_ += name + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
  }
  // A counter or gauge of one sample, when the daemon showed a value for it.
  void single(const std::string& name, const char* type, const char* help,
              std::optional<std::uint64_t> value) {
    if (!value) return;
    family(name, type, help);
    sample(name, "", std::to_string(*value));
  }
  const std::string& text() const { return out_; }

 private:
  std::string out_;
};

// The PPS waiter's buckets: bucket 0 holds a delay of 0 µs, bucket k up to 2^k - 1 µs; the last
// holds every longer delay too, so it is reported only through "+Inf".
constexpr std::size_t delayBuckets = 27;

// The waiter's histogram text, "<upper µs>:<edges>" per non-empty bucket, as counts per bucket.
// Nothing when the text is not of that shape.
std::optional<std::array<std::uint64_t, delayBuckets>> delayCounts(const std::string& text) {
  std::array<std::uint64_t, delayBuckets> counts{};
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    const auto colon = word.find(':');
    std::uint64_t upper = 0, count = 0;
    if (colon == std::string::npos ||
        std::from_chars(word.data(), word.data() + colon, upper).ptr != word.data() + colon ||
        std::from_chars(word.data() + colon + 1, word.data() + word.size(), count).ptr !=
            word.data() + word.size()) {
      return std::nullopt;
    }
    std::size_t bucket = 0;
    while (bucket < delayBuckets && ((std::uint64_t{1} << bucket) - 1) != upper) ++bucket;
    if (bucket == delayBuckets) return std::nullopt;
    counts[bucket] = count;
  }
  return counts;
}

void ppsMetrics(Client& client, Exposition& out) {
  // The waiter raises ppsUp before it counts an edge, and the two are read by separate requests:
  // reading the counters first means a scrape never counts an edge that its ppsUp has not seen.
  const Json waiter = entityAt(client, "agent/ppsWaiterSm");
  const Json status = entityAt(client, "hardware/ppsWaiter/status");
  if (const auto it = status.find("ppsUp"); it != status.end() && it->is_boolean()) {
    out.single("velaclock_pps_up", "gauge", "Whether the PPS waiter sees PPS (1) or not (0).",
               it->get<bool>() ? 1 : 0);
  }
  out.single("velaclock_pps_polls_total", "counter", "Polls of the PPS counter.",
             unsignedAt(waiter, "polls"));
  out.single("velaclock_pps_edges_published_total", "counter", "PPS edges published.",
             unsignedAt(waiter, "edgesPublished"));
  out.single("velaclock_pps_false_edges_total", "counter",
             "Likely false PPS edges (a drop after a saturated count), discarded.",
             unsignedAt(waiter, "falseEdgesDiscarded"));
  out.single("velaclock_pps_saturations_total", "counter",
             "Times the PPS count was found past its saturation point.",
             unsignedAt(waiter, "saturations"));
  const auto text = stringAt(waiter, "detectionDelayHistogram");
  const auto counts = text ? delayCounts(*text) : std::nullopt;
  const auto sumUs = unsignedAt(waiter, "detectionDelaySumUs");
  if (!counts || !sumUs) return;
  const std::string name = "velaclock_pps_detection_delay_seconds";
  out.family(name, "histogram", "Time from a PPS edge to the poll that published it.");
  std::uint64_t cumulative = 0;
  for (std::size_t bucket = 0; bucket + 1 < delayBuckets; ++bucket) {
    cumulative += (*counts)[bucket];
    const double upper = static_cast<double>((std::uint64_t{1} << bucket) - 1) / 1e6;
    out.sample(name + "_bucket", fmt::format("le=\"{}\"", upper), std::to_string(cumulative));
  }
  cumulative += counts->back();
  out.sample(name + "_bucket", "le=\"+Inf\"", std::to_string(cumulative));
  out.sample(name + "_sum", "", fmt::format("{}", static_cast<double>(*sumUs) / 1e6));
  out.sample(name + "_count", "", std::to_string(cumulative));
}

void routeMetrics(Client& client, Exposition& out) {
  struct Counter {
    const char* name;
    const char* help;
    std::vector<std::pair<const char*, const char*>> attributes;  // label "result", attribute
  };
  const std::array<Counter, 3> counters{{
      {"velaclock_routes_total",
       "Routes the sink monitors searched for, by result.",
       {{"done", "routesDone"}, {"failed", "routesFailed"}}},
      {"velaclock_route_readback_mismatches_total",
       "Mux writes whose register did not show the source when read back.",
       {{"", "readBackMismatches"}}},
      {"velaclock_route_access_failures_total",
       "Mux register accesses that failed.",
       {{"", "accessFailures"}}},
  }};
  const std::array<std::pair<const char*, Json>, 2> monitors{{
      {"strobe", entityAt(client, "agent/strobeSinkDirMonitorSm")},
      {"freq", entityAt(client, "agent/freqSinkDirMonitorSm")},
  }};
  for (const Counter& counter : counters) {
    bool started = false;
    for (const auto& [kind, monitor] : monitors) {
      for (const auto& [result, attribute] : counter.attributes) {
        const auto value = unsignedAt(monitor, attribute);
        if (!value) continue;
        if (!started) out.family(counter.name, "counter", counter.help);
        started = true;
        const std::string labels = fmt::format("kind=\"{}\"", kind) +
                                   (*result ? fmt::format(",result=\"{}\"", result) : "");
        out.sample(counter.name, labels, std::to_string(*value));
      }
    }
  }
}

void muxMetrics(Client& client, Exposition& out) {
  const Json selected =
      objectAt(entityAt(client, "hardware/clockmux/status/" + cellName), "muxStatus");
  bool started = false;
  for (const auto& [mux, status] : selected.items()) {
    const auto source = stringAt(status, "sourceSelect");
    if (!source || source->empty()) continue;
    if (!started) {
      out.family("velaclock_mux_selected", "gauge", "The source each clock mux selects (1).");
    }
    started = true;
    out.sample("velaclock_mux_selected",
               fmt::format("mux=\"{}\",source=\"{}\"", labelValue(mux), labelValue(*source)), "1");
  }
}

// The failed accesses of each real device, and the errno of its latest failure. Nothing from a
// daemon that has no real devices, or does not tell them.
void deviceMetrics(Client& client, Exposition& out) {
  Json devices;
  try {
    devices = client.request({{"op", "devices"}}).member("devices", Shape::array);
  } catch (const Refused&) {
    return;
  }
  if (devices.empty()) return;
  const auto each = [&](const char* name, const char* type, const char* help, const char* member) {
    out.family(name, type, help);
    for (const Json& device : devices) {
      const std::string labels = fmt::format("device=\"{}\",kind=\"{}\"",
                                             labelValue(stringAt(device, "name").value_or("")),
                                             labelValue(stringAt(device, "kind").value_or("")));
      out.sample(name, labels, std::to_string(unsignedAt(device, member).value_or(0)));
    }
  };
  each("velaclock_device_access_failures_total", "counter",
       "Accesses of a real register bank or output line that failed.", "failures");
  each("velaclock_device_last_errno", "gauge",
       "The errno of the device's latest failed access (0: none yet).", "lastErrno");
}

}  // namespace

std::string metricsText(Client& client) {
  Exposition out;
  ppsMetrics(client, out);
  routeMetrics(client, out);
  muxMetrics(client, out);
  deviceMetrics(client, out);
  return out.text();
}

}  // namespace velaclockctl
