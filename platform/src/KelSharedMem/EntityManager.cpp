#include "KelSharedMem/EntityManager.h"

#include <fmt/format.h>

#include <stdexcept>

#include "Kel/Trace.h"
#include "Kel/TypeInfo.h"
#include "velaclock/kel_flume.h"

namespace KelSharedMem {

namespace {
const char serviceName[] = "KelSharedMem";

Kel::TraceHandle& trace() {
  static Kel::TraceHandle& handle = Kel::traceHandle("KelSharedMem");
  return handle;
}
}  // namespace

EntityManager::EntityManager(Kel::String instance, uid_t uid)
    : instance_(std::move(instance)), uid_(uid) {}

EntityManager::~EntityManager() = default;

bool EntityManager::doMount(const Kel::String& path, const Kel::String& typeName,
                            const KelFlume::MountInfo& info) {
  if (std::string why = info.unsupportedReason(); !why.empty()) {
    return failed(fmt::format("cannot mount {} at {}: {}", typeName, path, why));
  }
  const Kel::Ptr<Table> table = newTable(path, typeName);
  if (!table) return false;
  std::string error;
  if (!table->attach(segmentName(path), info, &error)) {
    return failed(fmt::format("cannot mount {} at {}: {}", typeName, path, error));
  }
  // The new table has taken the segment over; the old one must not write into it any more.
  Kel::Ptr<Table>& slot = tables_[path];
  if (slot) slot->detach();
  slot = table;
  error_.clear();
  return true;
}

Kel::Ptr<Kel::Entity> EntityManager::getEntity(const Kel::String& path) const {
  const auto it = tables_.find(path);
  return it == tables_.end() ? nullptr : Kel::Ptr<Kel::Entity>(it->second);
}

std::string EntityManager::segmentName(const Kel::String& path) const {
  std::string name(KEL_FLUME_NAME_SIZE, '\0');
  std::size_t length =
      kel_flume_segment_name(name.data(), name.size(), uid_, instance_.c_str(), path.c_str());
  if (length >= name.size()) {
    // Too long for the system too; shm_open will say so with the full name.
    name.resize(length + 1);
    length =
        kel_flume_segment_name(name.data(), name.size(), uid_, instance_.c_str(), path.c_str());
  }
  name.resize(length);
  return name;
}

Kel::Ptr<Table> EntityManager::newTable(const Kel::String& path, const Kel::String& typeName) {
  const Kel::TypeInfo* type = Kel::typeInfo(typeName);
  if (!type) {
    failed(fmt::format("cannot mount {} at {}: unknown type", typeName, path));
    return nullptr;
  }
  if (!type->derivesFrom(Table::typeInfo())) {
    failed(fmt::format("cannot mount {} at {}: not a shared-memory table (KelSharedMem::Table)",
                       typeName, path));
    return nullptr;
  }
  try {
    Kel::Ptr<Table> table = Kel::dynamicPtrCast<Table>(type->newEntity({path}));
    if (table) return table;
    failed(fmt::format("cannot mount {} at {}: its factory made something else", typeName, path));
  } catch (const std::exception& e) {
    failed(fmt::format("cannot mount {} at {}: {}", typeName, path, e.what()));
  }
  return nullptr;
}

bool EntityManager::failed(std::string error) {
  error_ = std::move(error);
  KEL_TRACE(trace(), 0) << error_;
  return false;
}

Kel::Ptr<EntityManager> getEntityManager(const Kel::Ptr<Corral::EntityManager>& manager) {
  if (!manager) return nullptr;
  Kel::Ptr<EntityManager> tables =
      Kel::dynamicPtrCast<EntityManager>(manager->service(serviceName));
  if (!tables) {
    tables = Kel::makePtr<EntityManager>(manager->instance());
    manager->serviceIs(serviceName, tables);
  }
  return tables;
}

}  // namespace KelSharedMem
