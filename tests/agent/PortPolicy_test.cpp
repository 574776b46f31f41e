#include <gtest/gtest.h>

#include <limits>

#include "VelaClock/PortPolicySm.h"
#include "agent/AgentFixture.h"
#include "support/CapturedTrace.h"
#include "support/Golden.h"

using namespace VelaClockAgent;
using Hardware::Clocking::Signal;

// Not in the anonymous namespace: the suite compiles in batches of sources, and GCC warns of a
// test class deriving from a type local to one of them.
class PortPolicy : public ::testing::Test {
 protected:
  static Kel::Ptr<Hardware::Clocking::PpsGnssInPortConfig> port(Signal signal, double delay,
                                                                const char* name = "pps-in1") {
    auto config = Kel::makePtr<Hardware::Clocking::PpsGnssInPortConfig>(name);
    config->signalIs(signal);
    config->cableDelayNsIs(delay);
    return config;
  }
  // The source the policy chose for the FPGA's PPS input, or "(none)".
  std::string fpgaSource() const {
    const auto entry = sinks->cliConfig("fpga1/pps-in1");
    return entry ? entry->sourceName() : "(none)";
  }

  Kel::Ptr<Hardware::Strobe::SinkCliConfigDir> sinks =
      Kel::makePtr<Hardware::Strobe::SinkCliConfigDir>("FixedSystem");
  Kel::Ptr<Hardware::Clocking::PortCliConfigDir> ports =
      Kel::makePtr<Hardware::Clocking::PortCliConfigDir>("FixedSystem");
  Kel::Ptr<Hardware::Clocking::PortCliStatusDir> statuses =
      Kel::makePtr<Hardware::Clocking::PortCliStatusDir>("FixedSystem");
};

TEST_F(PortPolicy, TheSignalChoosesTheSinksSourceAndSignalAndDelayAreMirrored) {
  const auto config = port(Signal::pps, 12.5);
  const auto status = Kel::makePtr<Hardware::Clocking::PpsGnssInPortStatus>("pps-in1");
  const auto policy = PpsGnssInPortPolicySm::PpsGnssInPortPolicySmIs(config, status, sinks);
  EXPECT_EQ(fpgaSource(), "pps-in1");
  EXPECT_EQ(status->signal(), Signal::pps);
  EXPECT_EQ(status->cableDelayNs(), 12.5);
  EXPECT_EQ(policy->name(), "pps-in1");

  status->cableDelayNsIs(99.0);  // a signal change must leave the delay alone
  config->signalIs(Signal::gnssPps);
  EXPECT_EQ(fpgaSource(), "system/gps1");
  EXPECT_EQ(status->cableDelayNs(), 99.0);
  config->signalIs(Signal::gnssPpsTod);
  EXPECT_EQ(fpgaSource(), "system/gps1");
  EXPECT_EQ(status->signal(), Signal::gnssPpsTod);

  config->signalIs(Signal::none);  // removes the sink's entry; a later signal makes it again
  EXPECT_EQ(fpgaSource(), "(none)");
  config->signalIs(Signal::pps);
  EXPECT_EQ(fpgaSource(), "pps-in1");
  config->signalIs(static_cast<Signal>(7));  // unknown: the sink stays, the status mirrors it
  EXPECT_EQ(fpgaSource(), "pps-in1");
  EXPECT_EQ(status->signal(), static_cast<Signal>(7));

  for (const double delay : {-3.25, 1e300, std::numeric_limits<double>::infinity()}) {
    config->cableDelayNsIs(delay);
    EXPECT_EQ(status->cableDelayNs(), delay);
  }
  EXPECT_EQ(fpgaSource(), "pps-in1");

  // What a machine lacks, the steps that need it skip.
  const auto noStatus =
      PpsGnssInPortPolicySm::PpsGnssInPortPolicySmIs(port(Signal::gnssPps, 1.0), nullptr, sinks);
  EXPECT_EQ(fpgaSource(), "system/gps1");
  const auto other = Kel::makePtr<Hardware::Clocking::PpsGnssInPortStatus>("pps-in1");
  PpsGnssInPortPolicySm::PpsGnssInPortPolicySmIs(port(Signal::none, 2.0), other, nullptr);
  EXPECT_EQ(other->cableDelayNs(), 2.0);
  EXPECT_EQ(fpgaSource(), "system/gps1");
  const auto empty = PpsGnssInPortPolicySm::PpsGnssInPortPolicySmIs(nullptr, other, sinks);
  EXPECT_EQ(empty->name(), "");
  EXPECT_EQ(other->cableDelayNs(), 2.0);
}

TEST_F(PortPolicy, ThePortsStatusAndMachineFollowItsConfigurationEntry) {
  CapturedTrace handlers("PortPolicySm");
  const auto dirPolicy = PortConfigDirPolicySm::PortConfigDirPolicySmIs(ports, statuses, sinks);
  EXPECT_EQ(dirPolicy->portPolicySm(), nullptr);

  ports->allPortConfigIs(port(Signal::pps, 12.5));
  const auto status = statuses->ppsGnssInPortStatus("pps-in1");
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(statuses->allPortStatus("pps-in1"), status);  // one entity in both collections
  EXPECT_EQ(status->signal(), Signal::pps);
  EXPECT_EQ(status->cableDelayNs(), 12.5);
  EXPECT_EQ(fpgaSource(), "pps-in1");
  EXPECT_TRUE(matchesGolden(handlers.messages(), "port-policy/created.trace"));

  const Kel::Ptr<PpsGnssInPortPolicySm> first = dirPolicy->portPolicySm();
  ports->allPortConfigIs(port(Signal::gnssPps, 12.5));  // re-filed: a new machine, the only one
  EXPECT_NE(dirPolicy->portPolicySm(), first);
  EXPECT_EQ(first->references(), 1u);
  EXPECT_EQ(fpgaSource(), "system/gps1");
  EXPECT_EQ(statuses->ppsGnssInPortStatus("pps-in1"), status);

  ports->allPortConfigDel("pps-in1");
  EXPECT_EQ(dirPolicy->portPolicySm(), nullptr);
  EXPECT_EQ(statuses->ppsGnssInPortStatus("pps-in1"), nullptr);
  EXPECT_EQ(statuses->allPortStatus("pps-in1"), nullptr);
  EXPECT_EQ(fpgaSource(), "system/gps1");  // left as last written

  ports->allPortConfigIs(Kel::makePtr<Hardware::Clocking::PortConfig>("pps-in1"));
  EXPECT_EQ(dirPolicy->portPolicySm(), nullptr);  // another kind of port: as if removed
  EXPECT_EQ(statuses->allPortStatus("pps-in1"), nullptr);

  CapturedTrace trace("PortPolicySm/0");
  ports->allPortConfigIs(port(Signal::pps, 1.0, "pps-in2"));
  EXPECT_EQ(trace.count("invariant failed: Unexpected port name: pps-in2"), 1u);
  EXPECT_EQ(statuses->allPortStatus("pps-in2"), nullptr);
  EXPECT_EQ(fpgaSource(), "system/gps1");
}

TEST_F(PortPolicy, APortConfiguredBeforehandIsAppliedAtConstructionEvenWithoutAStatusDirectory) {
  ports->allPortConfigIs(port(Signal::gnssPps, 5.0));
  const auto dirPolicy = PortConfigDirPolicySm::PortConfigDirPolicySmIs(ports, statuses, sinks);
  ASSERT_NE(dirPolicy->portPolicySm(), nullptr);
  EXPECT_EQ(statuses->ppsGnssInPortStatus("pps-in1")->cableDelayNs(), 5.0);
  EXPECT_EQ(fpgaSource(), "system/gps1");

  sinks->cliConfigDel("fpga1/pps-in1");
  const auto blind = PortConfigDirPolicySm::PortConfigDirPolicySmIs(ports, nullptr, sinks);
  EXPECT_NE(blind->portPolicySm(), nullptr);
  EXPECT_EQ(fpgaSource(), "system/gps1");
  EXPECT_EQ(PortConfigDirPolicySm::PortConfigDirPolicySmIs(nullptr, nullptr, sinks)->portPolicySm(),
            nullptr);
}
