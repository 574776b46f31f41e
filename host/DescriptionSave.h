#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Corral/EntityManager.h"
#include "host/PlatformDescription.h"

namespace velaclockd {

// The state database and the simulated hardware as a platform description (YAML) that
// `velaclockd --platform` loads back, written a few lines at a time so that a large database
// never holds up the event loop. Every entity is written as `get` shows it, but without what
// loading gives anyway (attributes at their type's defaults, computed attributes, an entry's name
// and type where its key and collection imply them); an entity its client rebuilds at start
// (mounted `rebuilt`) is written empty; every register bank of `loaded` with its registers as they
// are now, in runs (see PlatformDescription.h), and every output line at the level it is driven
// now. Each entity, collection entry and bank is written as it is when its turn comes; a bank's
// registers are read all at once.
class DescriptionWriter {
 public:
  DescriptionWriter(const Corral::EntityManager& database, const PlatformDescription& loaded);
  ~DescriptionWriter();
  DescriptionWriter(const DescriptionWriter&) = delete;
  DescriptionWriter& operator=(const DescriptionWriter&) = delete;

  // Appends the next lines of the text to `out`, at least one, then more while `more()` says so;
  // false once the whole text is written.
  bool write(std::string& out, const std::function<bool()>& more);

 private:
  enum class Stage : std::uint8_t { header, entities, hams, gpo, done };
  void writeLine(std::string& out);
  void nextEntity(std::string& out);
  void nextEntityLine(std::string& out);
  void nextHam(std::string& out);
  void nextHamLine(std::string& out);
  void finishHam(std::string& out);
  void writeGpo(std::string& out);
  nlohmann::ordered_json difference(const Kel::PtrInterface& entity, const Kel::TypeInfo* type,
                                    const Kel::String& name, bool collections);
  const Kel::PtrInterface* prototype(const Kel::TypeInfo& type);

  const Corral::EntityManager& database_;
  const PlatformDescription& loaded_;
  Stage stage_ = Stage::header;
  // The entity being written: its path, its collections' entries as far as written.
  bool started_ = false;
  Kel::String path_;
  Kel::Ptr<Kel::Entity> entity_;
  std::size_t collection_ = 0;
  std::vector<Kel::String> keys_;  // of the collection being written, as they were at its start
  std::size_t key_ = 0;
  // The bank being written: its registers as read at its start, and how far they are written.
  std::size_t ham_ = 0;
  std::vector<std::uint8_t> registers_;
  std::size_t address_ = 0;
  bool hamOpen_ = false;
  // An entity of each type as it is made, for its defaults (null: the type cannot be made).
  std::map<const Kel::TypeInfo*, Kel::Ptr<Kel::PtrInterface>> prototypes_;
};

// The whole text at once.
std::string savedDescription(const Corral::EntityManager& database,
                             const PlatformDescription& loaded);

// The registers of a bank as the runs of `values` describe them: each run of equal non-zero bytes
// at least `repeatFrom` long as [address, count, value], the other non-zero stretches as
// [address, "hex bytes"] of at most `literalBytes` bytes; zeros are left out. Starts at `from`,
// writes one run (a YAML flow sequence) and returns where the next begins (registers.size() when
// none is left; nothing written then).
std::size_t nextRegisterRun(const std::vector<std::uint8_t>& registers, std::size_t from,
                            std::string& out);

}  // namespace velaclockd
