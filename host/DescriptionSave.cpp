#include "host/DescriptionSave.h"

#include <fmt/format.h>

#include <algorithm>

#include "Fru/Gpo.h"
#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "host/EntityJson.h"

namespace velaclockd {

namespace {
using Json = nlohmann::ordered_json;

// A run of equal non-zero bytes this long or longer is written as one [address, count, value].
constexpr std::size_t repeatFrom = 8;
// The most bytes of one [address, "hex bytes"].
constexpr std::size_t literalBytes = 64;
// Keys of a collection taken at once while it is written.
constexpr std::size_t keysAtOnce = 64;

// JSON is YAML: a value or key written as JSON text reads back as the same YAML scalar or flow
// collection, and strings stay strings (none turns into a number, a boolean or null).
std::string text(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string line(int indent, const Json& key, const std::string& value) {
  return std::string(static_cast<std::size_t>(indent), ' ') + text(key) + ":" +
         (value.empty() ? "" : " " + value) + "\n";
}

bool rebuiltAtStart(const Corral::EntityManager& database, const Kel::String& path) {
  const auto mount = database.mounts().find(path);
  return mount != database.mounts().end() && mount->second.rebuilt;
}

std::size_t equalRun(const std::vector<std::uint8_t>& registers, std::size_t from) {
  std::size_t end = from;
  while (end < registers.size() && registers[end] == registers[from]) ++end;
  return end - from;
}
}  // namespace

std::size_t nextRegisterRun(const std::vector<std::uint8_t>& registers, std::size_t from,
                            std::string& out) {
  while (from < registers.size() && registers[from] == 0) ++from;
  if (from == registers.size()) return from;
  if (const std::size_t run = equalRun(registers, from); run >= repeatFrom) {
    out += fmt::format("[0x{:x}, {}, 0x{:02x}]", from, run, registers[from]);
    return from + run;
  }
  // Bytes one by one, up to a zero or a long enough run (short ones are part of the stretch).
  std::size_t end = from;
  while (end < registers.size() && end - from < literalBytes && registers[end] != 0 &&
         (end == from || equalRun(registers, end) < repeatFrom)) {
    ++end;
  }
  // Zeros inside a stretch cost less as two hex digits than a new run's address.
  std::string hex;
  for (std::size_t address = from; address < end; ++address) {
    hex += fmt::format("{:02x}", registers[address]);
  }
  out += fmt::format("[0x{:x}, \"{}\"]", from, hex);
  return end;
}

DescriptionWriter::DescriptionWriter(const Corral::EntityManager& database,
                                     const PlatformDescription& loaded)
    : database_(database), loaded_(loaded) {}

DescriptionWriter::~DescriptionWriter() = default;

bool DescriptionWriter::write(std::string& out, const std::function<bool()>& more) {
  do {
    writeLine(out);
  } while (stage_ != Stage::done && more());
  return stage_ != Stage::done;
}

void DescriptionWriter::writeLine(std::string& out) {
  switch (stage_) {
    case Stage::header:
      out += "# saved by velaclockctl save; load it with velaclockd --platform FILE\n";
      out += database_.storedEntities().empty() ? "entities: {}\n" : "entities:\n";
      stage_ = Stage::entities;
      return;
    case Stage::entities:
      if (entity_) {
        nextEntityLine(out);
      } else {
        nextEntity(out);
      }
      return;
    case Stage::hams:
      if (hamOpen_) {
        nextHamLine(out);
      } else {
        nextHam(out);
      }
      return;
    case Stage::gpo:
      writeGpo(out);
      return;
    case Stage::done:
      return;
  }
}

const Kel::PtrInterface* DescriptionWriter::prototype(const Kel::TypeInfo& type) {
  const auto [it, made] = prototypes_.try_emplace(&type);
  if (made && type.isCreatable()) it->second = type.newEntity({"prototype"});
  return it->second.get();
}

// What of `entity` loading would not give anyway: its type unless it is `type`, its name unless it
// is `name`, its writable attributes not at their type's defaults, and, with `collections`, its
// collections that have entries, each entry the same way.
Json DescriptionWriter::difference(const Kel::PtrInterface& entity, const Kel::TypeInfo* type,
                                   const Kel::String& name, bool collections) {
  Json json = Json::object();
  // Members go in by push_back: each name comes once, and a lookup per insertion would make a
  // large collection cost its size squared.
  auto& members = json.get_ref<Json::object_t&>();
  const Kel::TypeInfo& actual = entity.fwkType();
  if (&actual != type) members.push_back({"type", actual.name()});
  if (const auto* named = dynamic_cast<const Kel::Entity*>(&entity);
      named && named->name() != name) {
    members.push_back({"name", named->name()});
  }
  const Kel::PtrInterface* defaults = prototype(actual);
  for (const auto& attribute : actual.attributes()) {
    if (!attribute.isWritable()) continue;  // computed: loading ignores it
    if (attribute.kind == Kel::ValueKind::reference) {
      const auto target = attribute.reference(entity);
      if (target) {
        members.push_back(
            {attribute.name, difference(*target, attribute.referencedType, attribute.name, true)});
      } else if (!defaults || attribute.reference(*defaults)) {
        members.push_back({attribute.name, nullptr});
      }
    } else if (!defaults || attribute.text(entity) != attribute.text(*defaults)) {
      members.push_back({attribute.name, attributeToJson(attribute, entity)});
    }
  }
  if (!collections) return json;
  for (const auto& collection : actual.collections()) {
    Json entries = Json::object();
    for (const Kel::String& key : collection.keys(entity)) {
      if (const auto entry = collection.entry(entity, key)) {
        entries.get_ref<Json::object_t&>().push_back(
            {key, difference(*entry, collection.entryType, key, true)});
      }
    }
    if (!entries.empty()) members.push_back({collection.name, std::move(entries)});
  }
  return json;
}

// Starts the next entity after the one written last: its path and its members but collections.
void DescriptionWriter::nextEntity(std::string& out) {
  const auto& all = database_.storedEntities();
  const auto next = started_ ? all.upper_bound(path_) : all.begin();
  started_ = true;
  if (next == all.end()) {
    out += "hardware:\n";
    out += loaded_.hams.empty() && loaded_.deviceHams.empty() ? "  hams: {}\n" : "  hams:\n";
    stage_ = Stage::hams;
    return;
  }
  path_ = next->first;
  entity_ = next->second;
  collection_ = 0;
  keys_.clear();
  key_ = 0;
  const Kel::String lastStep = path_.substr(path_.rfind('/') + 1);
  out += line(2, path_, "");
  if (rebuiltAtStart(database_, path_)) {
    out += line(4, "type", text(entity_->fwkType().name()));
    if (entity_->name() != lastStep) out += line(4, "name", text(entity_->name()));
    entity_ = nullptr;
    return;
  }
  const Json members = difference(*entity_, nullptr, lastStep, false);
  for (const auto& [member, value] : members.items()) out += line(4, member, text(value));
}

// The next line of the entity being written: an entry, or the start of its next collection that
// has entries; once none is left, the entity is done. Keys are taken a few at a time after the
// last one written, so a large collection is never copied whole in one step.
void DescriptionWriter::nextEntityLine(std::string& out) {
  const auto& collections = entity_->fwkType().collections();
  for (; collection_ < collections.size(); ++collection_, keys_.clear(), key_ = 0) {
    const auto& collection = collections[collection_];
    if (key_ == keys_.size()) {
      const bool started = !keys_.empty();
      keys_ = collection.keysAfter(*entity_, started ? &keys_.back() : nullptr, keysAtOnce);
      key_ = 0;
      if (keys_.empty()) continue;
      if (!started) {
        out += line(4, collection.name, "");
        return;
      }
    }
    const Kel::String& key = keys_[key_++];
    if (const auto entry = collection.entry(*entity_, key)) {
      out += line(6, key, text(difference(*entry, collection.entryType, key, true)));
    }
    return;
  }
  entity_ = nullptr;
}

// Starts the next register bank: its size, and its registers as they are now.
void DescriptionWriter::nextHam(std::string& out) {
  if (ham_ == loaded_.hams.size()) {
    // The banks of real devices: how to reach them, not what they hold.
    for (const DeviceHamDescription& device : loaded_.deviceHams) {
      out += line(4, device.name, text(deviceJson(device)));
    }
    stage_ = Stage::gpo;
    return;
  }
  const HamDescription& ham = loaded_.hams[ham_];
  out += line(4, ham.name, "");
  out += line(6, "registers", std::to_string(ham.registers));
  out += line(6, "persistent", ham.persistent ? "true" : "false");
  const auto bank = Kel::dynamicPtrCast<Fru::SimRegisterBank>(Fru::describedHamImpl(ham.name));
  registers_ = bank ? bank->contents() : std::vector<std::uint8_t>();
  address_ = 0;
  hamOpen_ = std::any_of(registers_.begin(), registers_.end(), [](auto v) { return v != 0; });
  if (hamOpen_) {
    out += line(6, "values", "");
  } else {
    finishHam(out);
  }
}

void DescriptionWriter::nextHamLine(std::string& out) {
  std::string run;
  address_ = nextRegisterRun(registers_, address_, run);
  if (!run.empty()) out += "        - " + run + "\n";
  if (address_ == registers_.size()) {
    hamOpen_ = false;
    finishHam(out);
  }
}

void DescriptionWriter::finishHam(std::string& out) {
  const HamDescription& ham = loaded_.hams[ham_++];
  if (!ham.stuckBits.empty()) {
    Json stuck = Json::object();
    for (const auto& [address, bits] : ham.stuckBits) {
      stuck.get_ref<Json::object_t&>().push_back(
          {std::to_string(address), {{"mask", bits.first}, {"value", bits.second}}});
    }
    out += line(6, "stuckBits", text(stuck));
  }
  if (!ham.ppsCounters.empty()) out += line(6, "ppsCounters", text(ham.ppsCounters));
}

void DescriptionWriter::writeGpo(std::string& out) {
  out += loaded_.gpos.empty() && loaded_.deviceLines.empty() ? "  gpo: {}\n" : "  gpo:\n";
  for (const GpoDescription& gpo : loaded_.gpos) {
    out += line(4, gpo.name, text(Json{{"asserted", Fru::gpoLine(gpo.name).asserted}}));
  }
  for (const DeviceLineDescription& device : loaded_.deviceLines) {
    out += line(4, device.name, text(deviceJson(device)));
  }
  stage_ = Stage::done;
}

std::string savedDescription(const Corral::EntityManager& database,
                             const PlatformDescription& loaded) {
  DescriptionWriter writer(database, loaded);
  std::string text;
  while (writer.write(text, [] { return true; })) {
  }
  return text;
}

}  // namespace velaclockd
