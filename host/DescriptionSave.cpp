#include "host/DescriptionSave.h"

#include <yaml-cpp/yaml.h>

#include "Fru/Gpo.h"
#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "host/EntityJson.h"

namespace velaclockd {

namespace {
using Json = nlohmann::ordered_json;

// JSON as YAML. Strings are double-quoted, so that none reads back as a number, a boolean or null;
// numbers keep their JSON text, which round-trips.
void emit(YAML::Emitter& out, const Json& value) {
  if (value.is_object()) {
    out << YAML::BeginMap;
    for (const auto& [key, member] : value.items()) {
      out << YAML::Key << YAML::DoubleQuoted << key << YAML::Value;
      emit(out, member);
    }
    out << YAML::EndMap;
  } else if (value.is_array()) {
    out << YAML::BeginSeq;
    for (const Json& item : value) emit(out, item);
    out << YAML::EndSeq;
  } else if (value.is_string()) {
    out << YAML::DoubleQuoted << value.get<std::string>();
  } else if (value.is_null()) {
    out << YAML::Null;
  } else {
    out << value.dump();
  }
}

// The entities by path; one its client rebuilds keeps only its type and name.
Json entities(const Corral::EntityManager& database) {
  Json all = Json::object();
  for (const auto& [path, entity] : database.storedEntities()) {
    const auto mount = database.mounts().find(path);
    const bool rebuilt = mount != database.mounts().end() && mount->second.rebuilt;
    all[path] = rebuilt ? Json{{"type", entity->fwkType().name()}, {"name", entity->name()}}
                        : entityToJson(*entity);
  }
  return all;
}

Json bank(const HamDescription& ham) {
  Json json{{"registers", ham.registers}, {"persistent", ham.persistent}};
  Json values = Json::object();
  const auto impl = Kel::dynamicPtrCast<Fru::SimRegisterBank>(Fru::describedHamImpl(ham.name));
  for (std::uint32_t address = 0; impl && address < impl->size(); ++address) {
    if (const std::uint8_t value = impl->peek(address)) values[std::to_string(address)] = value;
  }
  json["values"] = values;
  Json stuck = Json::object();
  for (const auto& [address, bits] : ham.stuckBits) {
    stuck[std::to_string(address)] = {{"mask", bits.first}, {"value", bits.second}};
  }
  json["stuckBits"] = stuck;
  json["ppsCounters"] = ham.ppsCounters;
  return json;
}

Json hardware(const PlatformDescription& loaded) {
  Json hams = Json::object();
  for (const HamDescription& ham : loaded.hams) hams[ham.name] = bank(ham);
  for (const DeviceHamDescription& ham : loaded.deviceHams) hams[ham.name] = deviceJson(ham);
  Json gpo = Json::object();
  for (const GpoDescription& line : loaded.gpos) {
    gpo[line.name] = {{"asserted", Fru::gpoLine(line.name).asserted}};
  }
  for (const DeviceLineDescription& line : loaded.deviceLines) gpo[line.name] = deviceJson(line);
  return {{"hams", hams}, {"gpo", gpo}};
}
}  // namespace

std::string savedDescription(const Corral::EntityManager& database,
                             const PlatformDescription& loaded) {
  YAML::Emitter out;
  out << YAML::Comment("saved by velaclockctl save; load it with velaclockd --platform FILE");
  emit(out, Json{{"entities", entities(database)}, {"hardware", hardware(loaded)}});
  return std::string(out.c_str()) + "\n";
}

}  // namespace velaclockd
