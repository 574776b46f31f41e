// Costs on the agent's hot paths: a change reaching its reactors, a route found and programmed,
// and the PPS edge record published and read back by another program's reader; and the largest
// control reply, `regs` of a full register bank.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "Hardware/ClockMux.h"
#include "KelSharedMem/EntityManager.h"
#include "VelaClock/ClockMux.h"
#include "VelaClock/VelaClockCommonFunctions.h"
#include "VelaClockAgent/PpsWaiterTypes.h"
#include "host/ControlService.h"
#include "velaclock/kel_flume.h"

namespace {

class CountingReactor : public Kel::PtrInterface::NotifieeConst {
 public:
  explicit CountingReactor(const Kel::Ptr<const Kel::PtrInterface>& notifier) {
    notifierIs(notifier);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
  }
  void onAttribute(Kel::AttributeId, const void*) override { ++heard; }
  long heard = 0;
};

// One attribute change delivered to `range(0)` reactors.
void notification(benchmark::State& state) {
  auto status = Kel::makePtr<Hardware::ClockMux::MuxStatus>("m");
  std::vector<Kel::Ptr<CountingReactor>> reactors;
  reactors.reserve(static_cast<std::size_t>(state.range(0)));
  for (int i = 0; i < state.range(0); ++i)
    reactors.push_back(Kel::makePtr<CountingReactor>(status));
  std::uint32_t value = 0;
  for (auto _ : state) status->controlRegisterIs(++value);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(notification)->Arg(1)->Arg(8);

// A two-level route, searched and programmed through the simulated register bank.
void twoLevelRoute(benchmark::State& state) {
  unsetenv("SIMULATION_VMID");
  auto bank = Kel::makePtr<Fru::SimRegisterBank>("IntelGpioHam", 256);
  Fru::hamImplIs("IntelGpioHam", bank);
  auto config = Kel::makePtr<Hardware::ClockMux::MuxConfigDir>("FixedSystem");
  auto status = Kel::makePtr<Hardware::ClockMux::MuxStatusDir>("FixedSystem");
  auto ref = config->muxConfigIs("asicRefMux");
  ref->controlRegisterIs(0x20);
  ref->bitMaskIs(0x0F);
  ref->sourceIs("system/ocxo1")->bitValueIs(1);
  ref->sourceIs("synceMux")->bitValueIs(2);
  ref->sinkIs("asic1/ref-clk");
  auto synce = config->muxConfigIs("synceMux");
  synce->controlRegisterIs(0x20);
  synce->bitMaskIs(0xF0);
  synce->sourceIs("port1/rx-clk")->bitValueIs(0x10);
  synce->sourceIs("port2/rx-clk")->bitValueIs(0x20);
  const auto monitor = VelaClockAgent::MuxDirMonitorSm::MuxDirMonitorSmIs(config, status);
  const char* sources[] = {"port1/rx-clk", "port2/rx-clk"};
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        VelaClockAgent::setupMuxesForSink("asic1/ref-clk", sources[i ^= 1], config, status));
  }
  Fru::hamImplsDelAll();
}
BENCHMARK(twoLevelRoute);

// The PPS edge record published by the agent's table, then read with the public C reader.
void ppsEdgeRecord(benchmark::State& state) {
  const std::string instance = "bench" + std::to_string(getpid());
  auto database = Kel::makePtr<Corral::EntityManager>(instance, "/nonexistent");
  auto tables = KelSharedMem::getEntityManager(database);
  KelFlume::MountInfo info(KelFlume::latestRecord_);
  info.collectionInfoIs(KelFlume::CollectionInfo("ppsEdgeTimestamps", 1, false));
  tables->doMount("ppsWaiter/timestamps", "VelaClockAgent::PpsWaiterTimestamps", info);
  auto table = Kel::dynamicPtrCast<VelaClockAgent::PpsWaiterTimestamps>(
      tables->getEntity("ppsWaiter/timestamps"));
  kel_flume_segment segment{};
  kel_flume_open(&segment, tables->segmentName("ppsWaiter/timestamps").c_str());
  vela_pps_edge_timestamps record{};
  std::uint64_t n = 0;
  for (auto _ : state) {
    table->ppsEdgeTimestampsIs({0, ++n, n + 1});
    if (kel_flume_read(&segment, &record, sizeof record, nullptr) != KEL_FLUME_OK ||
        record.edge_timestamp_ns != n) {
      state.SkipWithError("the reader did not see the record just written");
      break;
    }
  }
  kel_flume_close(&segment);
  shm_unlink(tables->segmentName("ppsWaiter/timestamps").c_str());
}
BENCHMARK(ppsEdgeRecord);

}  // namespace

// The `regs` reply of a bank of the most registers a bank may have (1 MiB), rendered as sent.
void registerDump(benchmark::State& state) {
  auto bank = Kel::makePtr<Fru::SimRegisterBank>("Big", Fru::SimRegisterBank::maxRegisters);
  Fru::hamImplIs("Big", bank);
  velaclockd::ControlService service(Kel::makePtr<Corral::EntityManager>("bench", ""));
  const nlohmann::json request{{"op", "regs"}, {"ham", "Big"}};
  for (auto _ : state) benchmark::DoNotOptimize(service.handle(request).dump());
  state.SetBytesProcessed(state.iterations() * std::int64_t{Fru::SimRegisterBank::maxRegisters});
  Fru::hamImplIs("Big", nullptr);
}
BENCHMARK(registerDump)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
