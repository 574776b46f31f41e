#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "Hardware/Pps.h"
#include "Kel/Entity.h"
#include "KelSharedMem/Table.h"

// The entities of the PPS waiter: its configuration and status in the state database, and the
// shared-memory table where it publishes the latest PPS edge.
namespace VelaClockAgent {

#define VELACLOCKAGENT_PPS_WAITER_CONFIG(attribute, collection, reference) \
  attribute(double, ppsPollPeriod) reference(Hardware::Pps::CounterCommon, ppsCounter)
#define VELACLOCKAGENT_PPS_WAITER_STATUS(attribute, collection, reference) attribute(bool, ppsUp)
#define VELACLOCKAGENT_PPS_WAITER_TIMESTAMPS(attribute, collection, reference)

// The counter to poll, and the delay (seconds) to the first poll; 0 or +infinity: no polling.
KEL_ENTITY_CLASS(VelaClockAgent, PpsWaiterConfig, Kel::Entity, VELACLOCKAGENT_PPS_WAITER_CONFIG);
// Whether PPS edges arrive.
KEL_ENTITY_CLASS(VelaClockAgent, PpsWaiterStatus, Kel::Entity, VELACLOCKAGENT_PPS_WAITER_STATUS);

// The latest PPS edge, as published in shared memory (layout: velaclock/kel_flume.h).
struct PpsEdgeTimestamps {
  std::uint32_t leadingWord = 0;    // always written 0
  std::uint64_t edgeTimestamp = 0;  // UTC time of the edge, ns since the Unix epoch
  std::uint64_t pollTimestamp = 0;  // UTC time of the poll that saw it, ns since the Unix epoch
  bool operator==(const PpsEdgeTimestamps&) const = default;
};
static_assert(sizeof(PpsEdgeTimestamps) == 24 && offsetof(PpsEdgeTimestamps, edgeTimestamp) == 8);

// The shared-memory table "ppsWaiter/timestamps": one record, replaced at each published edge.
class PpsWaiterTimestamps : public KelSharedMem::Table {
  KEL_ENTITY(VelaClockAgent, PpsWaiterTimestamps, KelSharedMem::Table,
             VELACLOCKAGENT_PPS_WAITER_TIMESTAMPS)

 public:
  static constexpr Kel::AttributeId ppsEdgeTimestampsId{kelMemberCount};

  const PpsEdgeTimestamps& ppsEdgeTimestamps() const { return ppsEdgeTimestamps_; }
  // Publishes `record` whole to readers in other processes and tells reactors.
  void ppsEdgeTimestampsIs(const PpsEdgeTimestamps& record);
  std::size_t recordSize() const override { return sizeof(PpsEdgeTimestamps); }

  static void kelDescribeMore(Kel::TypeBuilder<PpsWaiterTimestamps>& builder);

 private:
  PpsEdgeTimestamps ppsEdgeTimestamps_;
};

}  // namespace VelaClockAgent
