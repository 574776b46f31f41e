#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <map>
#include <string>

#include "Corral/EntityManager.h"
#include "Kel/Entity.h"
#include "Kel/Ptr.h"
#include "Kel/PtrInterface.h"
#include "Kel/String.h"
#include "KelFlume/MountInfo.h"
#include "KelSharedMem/Table.h"

namespace KelSharedMem {

// The shared-memory tables of one state database.
class EntityManager : public Kel::PtrInterface {
 public:
  // Tables of `instance` live in segments named after the identity (`uid`, `instance`) and their
  // path (see kel_flume_segment_name), so that daemons of other users or instances never share
  // one. The path "lock" is not a table's: it names velaclockd's instance lock.
  explicit EntityManager(Kel::String instance, uid_t uid = geteuid());
  // Leaves every segment in place: readers outlive the writer.
  ~EntityManager() override;

  // Creates (generically, by registered type name, with the path as its name) an entity of
  // `typeName`, which must derive from Table, attaches it to the segment named from the instance
  // and `path`, and keeps it under `path`. A second mount of a path re-attaches a new table there
  // (the writer restarted) and detaches the old one. Returns false, sets error() and changes
  // nothing on failure (unknown type, not a Table, unsupported MountInfo, system error).
  bool doMount(const Kel::String& path, const Kel::String& typeName,
               const KelFlume::MountInfo& info);
  // The table mounted at `path`, or null when none is.
  Kel::Ptr<Kel::Entity> getEntity(const Kel::String& path) const;
  // Why the last failed doMount failed.
  const std::string& error() const noexcept { return error_; }
  // The identity the segments are named after.
  const Kel::String& instance() const noexcept { return instance_; }
  uid_t uid() const noexcept { return uid_; }
  // The name of the segment that holds the table of `path`.
  std::string segmentName(const Kel::String& path) const;

 private:
  Kel::Ptr<Table> newTable(const Kel::String& path, const Kel::String& typeName);
  bool failed(std::string error);

  Kel::String instance_;
  uid_t uid_;
  std::map<Kel::String, Kel::Ptr<Table>> tables_;
  std::string error_;
};

// The table manager of a state database, made on first use and kept as its service
// "KelSharedMem"; null for a null database.
Kel::Ptr<EntityManager> getEntityManager(const Kel::Ptr<Corral::EntityManager>& manager);

}  // namespace KelSharedMem
