#include "host/ControlService.h"

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <set>
#include <stdexcept>
#include <string_view>

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "Kel/Trace.h"
#include "host/ControlServer.h"
#include "host/DescriptionSave.h"
#include "host/EntityJson.h"
#include "host/RealTime.h"
#include "host/RouteExplanation.h"
#include "host/SaveJob.h"
#include "host/Watch.h"

namespace velaclockd {

namespace {

// A request that is refused; its message says what was wrong and what was expected.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string stringMember(const nlohmann::json& request, const char* name) {
  const auto it = request.find(name);
  if (it == request.end() || !it->is_string() || it->get<std::string>().empty()) {
    throw Refused(fmt::format("request needs `{}`: a non-empty string", name));
  }
  return it->get<std::string>();
}

template <class Descriptor>
std::string names(const std::vector<Descriptor>& all) {
  std::string list;
  for (const auto& d : all) list += (list.empty() ? "" : ", ") + d.name;
  return list.empty() ? "none" : list;
}

const Kel::CollectionDescriptor& collectionOf(const Kel::Entity& entity, const std::string& name) {
  const auto* collection = entity.fwkType().collection(name);
  if (!collection) {
    throw Refused(fmt::format("{} {} has no collection `{}` (it has: {})", entity.fwkType().name(),
                              entity.name(), name, names(entity.fwkType().collections())));
  }
  return *collection;
}

// The type of the entry to set: the present entry's, or the one asked for, or the collection's.
const Kel::TypeInfo& entryType(const Kel::CollectionDescriptor& collection,
                               const Kel::Ptr<Kel::PtrInterface>& present,
                               const nlohmann::json& request) {
  const auto it = request.find("type");
  if (it == request.end()) return present ? present->fwkType() : *collection.entryType;
  if (!it->is_string()) throw Refused("`type` must be a type name");
  const Kel::TypeInfo* type = Kel::typeInfo(it->get<std::string>());
  if (!type || !type->derivesFrom(*collection.entryType) || !type->isCreatable()) {
    throw Refused(
        fmt::format("type `{}` cannot be an entry of `{}`: expected {} or a type "
                    "derived from it",
                    it->get<std::string>(), collection.name, collection.entryType->name()));
  }
  if (present && &present->fwkType() != type) {
    throw Refused(fmt::format("entry is a {}, not a {}; delete it first to change its type",
                              present->fwkType().name(), type->name()));
  }
  return *type;
}

// Checks every ATTR=VALUE of the request against `type`; returns them in request order.
std::vector<std::pair<const Kel::AttributeDescriptor*, std::string>> checkedAttributes(
    const Kel::TypeInfo& type, const nlohmann::json& request) {
  std::vector<std::pair<const Kel::AttributeDescriptor*, std::string>> checked;
  const auto it = request.find("attributes");
  if (it == request.end()) return checked;
  if (!it->is_object()) throw Refused("`attributes` must be an object of names and text values");
  for (const auto& [name, value] : it->items()) {
    const auto* attribute = type.attribute(name);
    if (!attribute) {
      throw Refused(fmt::format("{} has no attribute `{}` (it has: {})", type.name(), name,
                                names(type.attributes())));
    }
    if (!attribute->isWritable() || attribute->kind == Kel::ValueKind::reference) {
      throw Refused(fmt::format("attribute `{}` of {} cannot be set here", name, type.name()));
    }
    if (!value.is_string() || !attribute->accepts(value.get<std::string>())) {
      // The refused value is shown as it came, any byte that is not UTF-8 replaced.
      throw Refused(fmt::format(
          "attribute `{}` of {}: expected {}, not {}", name, type.name(), attribute->expectation,
          value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
    }
    checked.emplace_back(attribute, value.get<std::string>());
  }
  return checked;
}

nlohmann::ordered_json ok() {
  return {{"ok", true}};
}

// The registers as two lower-case hex digits each, from a table: a bank may hold a million. A
// simulated bank is looked at without an access; a real one is read, each register once.
std::string registersInHex(const Kel::String& ham, Fru::HamImpl& impl) {
  constexpr std::string_view digits = "0123456789abcdef";
  const auto* sim = dynamic_cast<const Fru::SimRegisterBank*>(&impl);
  std::vector<std::uint8_t> registers = sim ? sim->contents() : std::vector<std::uint8_t>();
  for (std::uint32_t address = 0; !sim && address < impl.registerCount(); ++address) {
    std::uint8_t value = 0;
    if (const auto status = impl.read8(address, value); status != Fru::AccessStatus::ok) {
      throw Refused(fmt::format("register bank {}: read8 of 0x{:x} failed: {}", ham, address,
                                fmt::streamed(status)));
    }
    registers.push_back(value);
  }
  std::string hex(registers.size() * 2, '0');
  for (std::size_t address = 0; address < registers.size(); ++address) {
    hex[2 * address] = digits[registers[address] >> 4];
    hex[2 * address + 1] = digits[registers[address] & 0x0F];
  }
  return hex;
}

}  // namespace

ControlService::ControlService(Kel::Ptr<Corral::EntityManager> database, PlatformDescription loaded,
                               CAgentRoutePlanner routePlanner, AgentView agent,
                               RouteApplier routeApplier)
    : database_(std::move(database)),
      loaded_(std::move(loaded)),
      routePlanner_(routePlanner),
      agent_(std::move(agent)),
      routeApplier_(std::move(routeApplier)) {}

nlohmann::ordered_json ControlService::handle(const nlohmann::json& request) {
  // A connection that can neither become a stream nor wait for a reply.
  class NoConnection : public Connection {
   public:
    bool streamIs(std::unique_ptr<Stream>) override { return false; }
    bool streaming() const override { return false; }
    bool push(const nlohmann::ordered_json&) override { return false; }
    void streamEnds(const std::string&) override {}
    void replyLater(std::unique_ptr<PendingReply>) override {}
    void replyIs(std::string) override {}
  } none;
  if (request.value("op", "") == "save") return errorReply("`save` is answered on a connection");
  return *handle(request, none);
}

std::optional<nlohmann::ordered_json> ControlService::handle(const nlohmann::json& request,
                                                             Connection& connection) {
  try {
    const std::string op = stringMember(request, "op");
    if (op == "get") return get(request);
    if (op == "set") return set(request);
    if (op == "del") return del(request);
    if (op == "trace") return trace(request);
    if (op == "regs") return regs(request);
    if (op == "devices") return devices(request);
    if (op == "paths") return paths(request);
    if (op == "watch") return watch(request, connection);
    if (op == "route") return route(request);
    if (op == "save") return save(connection);
    if (op == "sim") return sim(request);
    if (op == "scheduling") return scheduling();
    throw Refused("unknown op `" + op +
                  "`: expected get, set, del, trace, regs, devices, paths, watch, route, save, "
                  "sim or scheduling");
  } catch (const Refused& refused) {
    return errorReply(refused.what());
  } catch (const AgentStateError& refused) {
    return errorReply(refused.what());
  }
}

Kel::Ptr<Kel::Entity> ControlService::entityAt(const nlohmann::json& request) const {
  const std::string path = stringMember(request, "path");
  if (path.starts_with(agentPathPrefix)) {
    throw Refused("`" + path + "` is the agent's own state, which can be read (get), not changed");
  }
  auto entity = database_->storedEntity(path);
  if (!entity) throw Refused("no entity at path `" + path + "`");
  return entity;
}

nlohmann::ordered_json ControlService::get(const nlohmann::json& request) {
  if (const std::string path = stringMember(request, "path"); path.starts_with(agentPathPrefix)) {
    return getAgentState(path);
  }
  auto reply = ok();
  reply["entity"] = entityToJson(*entityAt(request));
  return reply;
}

nlohmann::ordered_json ControlService::set(const nlohmann::json& request) {
  const Kel::Ptr<Kel::Entity> entity = entityAt(request);
  if (!request.contains("collection")) {
    const auto attributes = checkedAttributes(entity->fwkType(), request);
    if (attributes.empty()) throw Refused("nothing to set: give ATTR=VALUE");
    for (const auto& [attribute, text] : attributes) attribute->textIs(*entity, text);
    auto reply = ok();
    reply["entity"] = entityToJson(*entity);
    return reply;
  }
  const auto& collection = collectionOf(*entity, stringMember(request, "collection"));
  const std::string key = stringMember(request, "key");
  Kel::Ptr<Kel::PtrInterface> entry = collection.entry(*entity, key);
  const Kel::TypeInfo& type = entryType(collection, entry, request);
  const auto attributes = checkedAttributes(type, request);
  // Everything is checked: now a new entry is filed with its type's defaults, and then each
  // attribute is set through its setter, as the platform's own writers do, so that reactors on
  // the entry hear every change (a sink monitor routes a new sink's source when it changes).
  if (!entry) {
    entry = type.newEntity({key});
    collection.entryIs(*entity, entry);
  }
  for (const auto& [attribute, text] : attributes) attribute->textIs(*entry, text);
  auto reply = ok();
  reply["entity"] = entityToJson(*entry);
  return reply;
}

nlohmann::ordered_json ControlService::del(const nlohmann::json& request) {
  const Kel::Ptr<Kel::Entity> entity = entityAt(request);
  const auto& collection = collectionOf(*entity, stringMember(request, "collection"));
  const std::string key = stringMember(request, "key");
  if (!collection.entry(*entity, key)) {
    throw Refused(fmt::format("`{}` has no entry `{}`", collection.name, key));
  }
  collection.entryDel(*entity, key);
  return ok();
}

nlohmann::ordered_json ControlService::trace(const nlohmann::json& request) {
  const auto it = request.find("filter");
  if (it == request.end() || !it->is_string()) throw Refused("request needs `filter`: a string");
  std::string error;
  if (!Kel::traceFilterIs(it->get<std::string>(), &error)) throw Refused(error);
  auto reply = ok();
  reply["filter"] = Kel::traceFilter();
  return reply;
}

nlohmann::ordered_json ControlService::regs(const nlohmann::json& request) {
  const std::string ham = stringMember(request, "ham");
  const auto bank = Fru::describedHamImpl(ham);
  if (!bank || !bank->registerCount()) {
    std::string known;
    for (const auto& [name, impl] : Fru::hamImpls()) known += (known.empty() ? "" : ", ") + name;
    throw Refused(fmt::format("no register bank for Ham `{}` (there are: {})", ham,
                              known.empty() ? "none" : known));
  }
  auto reply = ok();
  reply["ham"] = ham;
  reply["size"] = bank->registerCount();
  reply["registers"] = registersInHex(ham, *bank);
  return reply;
}

// The real devices behind the banks and lines, and how their accesses failed.
nlohmann::ordered_json ControlService::devices(const nlohmann::json&) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  const auto add = [&](const Kel::String& name, const char* kind, Fru::AccessFailures failures) {
    list.push_back({{"name", name},
                    {"kind", kind},
                    {"failures", failures.count},
                    {"lastErrno", failures.lastErrno}});
  };
  for (const DeviceHamDescription& ham : loaded_.deviceHams) {
    if (const auto impl = Fru::describedHamImpl(ham.name))
      add(ham.name, "bank", impl->accessFailures());
  }
  for (const DeviceLineDescription& line : loaded_.deviceLines) {
    if (const auto driver = Fru::describedOutputLine(line.name)) {
      add(line.name, "line", driver->accessFailures());
    }
  }
  auto reply = ok();
  reply["devices"] = std::move(list);
  return reply;
}

nlohmann::ordered_json ControlService::paths(const nlohmann::json&) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const auto& [path, entity] : database_->storedEntities()) {
    list.push_back({{"path", path}, {"type", entity->fwkType().name()}});
  }
  auto reply = ok();
  reply["paths"] = std::move(list);
  return reply;
}

// Turns the connection into a stream of the changes of the entities at the paths asked for (every
// path when none is; a path named twice is watched once), once every path is known and what they
// hold is not more than one watch may follow.
nlohmann::ordered_json ControlService::watch(const nlohmann::json& request,
                                             Connection& connection) {
  if (connection.streaming()) throw Refused("this connection is watching already");
  Watch::Watched watched;
  const auto it = request.find("paths");
  if (it != request.end() && !it->is_array()) throw Refused("`paths` must be a list of paths");
  if (it == request.end() || it->empty()) {
    for (const auto& [path, entity] : database_->storedEntities())
      watched.emplace_back(path, entity);
  } else {
    std::vector<std::string> paths;  // in the order first named
    std::set<std::string> named;
    for (const auto& path : *it) {
      if (!path.is_string()) throw Refused("`paths` must be a list of paths");
      if (named.insert(path.get<std::string>()).second) paths.push_back(path.get<std::string>());
    }
    if (paths.size() > velaclock::maxWatchPaths) {
      throw Refused(fmt::format("a watch names at most {} paths, not {}", velaclock::maxWatchPaths,
                                paths.size()));
    }
    for (const std::string& path : paths) {
      auto entity = database_->storedEntity(path);
      if (!entity) throw Refused("no entity at path `" + path + "`");
      watched.emplace_back(path, std::move(entity));
    }
  }
  if (Watch::entitiesToFollow(watched) > Watch::maxEntities) {
    throw Refused(fmt::format(
        "the paths hold more than {} entities, the most one watch follows; watch fewer paths",
        Watch::maxEntities));
  }
  nlohmann::ordered_json reply = ok();
  reply["watching"] = nlohmann::ordered_json::array();
  for (const auto& [path, entity] : watched) reply["watching"].push_back(path);
  if (!connection.streamIs(std::make_unique<Watch>(connection, std::move(watched)))) {
    throw Refused("too many watchers: one connection always stays for other clients");
  }
  return reply;
}

// Explains how the agent would route a source to a sink, programming nothing; with "apply", then
// files the sink's wanted source as `set` would, which the agent routes.
nlohmann::ordered_json ControlService::route(const nlohmann::json& request) {
  if (!routePlanner_) throw Refused("the agent does not explain routes");
  const std::string sink = stringMember(request, "sink");
  const std::string source = stringMember(request, "source");
  const auto apply = request.find("apply");
  if (apply != request.end() && !apply->is_boolean())
    throw Refused("`apply` must be true or false");
  const Clock::Mux::RoutePlan plan = routePlanner_(*database_, sink, source);
  nlohmann::ordered_json reply = explainRoute(plan);
  if (apply == request.end() || !apply->get<bool>()) return reply;
  if (!plan.failure.empty())
    throw Refused("no route from " + source + " to " + sink + ": " + plan.failure +
                  "; nothing applied");
  if (plan.sinkCliConfigPath.empty())
    throw Refused("no sink `" + sink + "` is configured; nothing applied");
  if (routeApplier_) {
    if (const std::string why = routeApplier_(sink, source); !why.empty()) {
      throw Refused(why + "; nothing applied");
    }
  } else {
    set({{"op", "set"},
         {"path", plan.sinkCliConfigPath},
         {"collection", "cliConfig"},
         {"key", sink},
         {"attributes", {{"sourceName", source}}}});
  }
  reply["applied"] = plan.sinkCliConfigPath;
  return reply;
}

// The whole state database as a platform description that loads back, written in the loop's spare
// time; the reply comes when it is done.
std::optional<nlohmann::ordered_json> ControlService::save(Connection& connection) {
  connection.replyLater(std::make_unique<SaveJob>(connection, *database_, loaded_));
  return std::nullopt;
}

Kel::Ptr<const Kel::PtrInterface> ControlService::agent() const {
  return agent_ ? agent_() : nullptr;
}

nlohmann::ordered_json ControlService::getAgentState(const std::string& path) const {
  auto reply = ok();
  reply["entity"] = entityToJson(*agentStateAt(agent(), path.substr(agentPathPrefix.size())));
  return reply;
}

// Faults of the simulated PPS pulse, for an operator to watch the PPS waiter lose it and recover.
nlohmann::ordered_json ControlService::sim(const nlohmann::json& request) {
  if (const std::string signal = stringMember(request, "signal"); signal != "pps") {
    throw Refused("no simulated signal `" + signal + "`: expected pps");
  }
  const PulseState pulse = simulatedPpsFaultIs(agent(), stringMember(request, "action"));
  auto reply = ok();
  reply["stopped"] = pulse.stopped;
  if (pulse.heldCount >= 0) reply["heldCount"] = pulse.heldCount;
  return reply;
}

// The event thread's policy and priority, and the memory locked, as they are now: the control
// service runs on the event thread.
nlohmann::ordered_json ControlService::scheduling() {
  const SchedulingInForce now = schedulingInForce();
  auto reply = ok();
  reply["policy"] = now.policy;
  reply["priority"] = now.priority;
  if (now.lockedKiB) reply["lockedKiB"] = *now.lockedKiB;
  return reply;
}

}  // namespace velaclockd
