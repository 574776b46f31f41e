#pragma once

#include "Corral/EntityManager.h"
#include "Corral/Mounter.h"
#include "Kel/String.h"

// The base of an agent that a host loads: a state-database client with a name, a slice id and the
// host's entity manager. The host calls doPreInit, doInit, then (once the mounts the agent asked
// for are done) doMountsComplete, all on its event thread.
class CAgent;

// Creates an agent by name. An agent library exports one under the C name `kelAgentFactory`, which
// the host finds with dlsym after loading the library.
using CAgentFactory = Kel::Ptr<CAgent> (*)(const Kel::String& name);
extern "C" const CAgentFactory kelAgentFactory;

class CAgent : public Corral::Mounter {
 public:
  explicit CAgent(Kel::String name) : name_(std::move(name)) {}

  const Kel::String& name() const { return name_; }
  // The name of the agent's state-database client.
  const Kel::String& agentCorralName() const { return agentCorralName_; }
  void agentCorralNameIs(const Kel::String& name) { agentCorralName_ = name; }
  // The slice of the system the agent serves; the host may set it before doInit.
  const Kel::String& sliceId() const { return sliceId_; }
  void sliceIdIs(const Kel::String& sliceId) { sliceId_ = sliceId; }
  const Kel::Ptr<Corral::EntityManager>& entityManager() const { return entityManager_; }
  void entityManagerIs(const Kel::Ptr<Corral::EntityManager>& manager) { entityManager_ = manager; }

  // Names the state-database client.
  virtual void doPreInit() {}
  // Settles the slice id and asks for mounts.
  virtual void doInit() {}
  void doMountsComplete(Corral::MountStatus, const Kel::Ptr<Corral::EntityManager>&) override {}

 private:
  Kel::String name_;
  Kel::String agentCorralName_;
  Kel::String sliceId_;
  Kel::Ptr<Corral::EntityManager> entityManager_;
};
