// Costs on the agent's hot paths: a change reaching its reactors, a register access and a route
// found and programmed on each register backend, a PPS poll through each, and the PPS edge record
// published and read back by another program's reader; and the largest control reply, `regs` of a
// full register bank. Benchmarks with a `backend` argument run on the simulated bank (0), on an
// mmio window over a file mapping (1), and, when VELACLOCK_BENCH_I2C names a device as
// "BUS:ADDRESS" (the hardware tier's guest does, on i2c-stub), on that SMBus device (2).
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Fru/Hardware.h"
#include "Fru/I2cRegisterDevice.h"
#include "Fru/MmioWindow.h"
#include "Fru/SimRegisterBank.h"
#include "Hardware/ClockMux.h"
#include "KelSharedMem/EntityManager.h"
#include "Pps/Counter/LumenHal.h"
#include "Pps/Counter/SimPulse.h"
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

// A register window of 0x2000 bytes on the backend `state.range(0)` names.
Kel::Ptr<Fru::HamImpl> registerWindow(benchmark::State& state, const Kel::String& name) {
  switch (state.range(0)) {
    case 0:
      return Kel::makePtr<Fru::SimRegisterBank>(name, 0x2000);
    case 1: {
      const auto file = std::filesystem::temp_directory_path() /
                        ("velaclock-bench-" + name + "-" + std::to_string(getpid()));
      std::filesystem::remove(file);
      { std::ofstream(file).put('\0'); }
      std::filesystem::resize_file(file, 0x2000);
      auto window =
          Fru::openMmioWindow(name, {.path = file.string(), .size = 0x2000}, Fru::OpenMode::use);
      std::filesystem::remove(file);  // the mapping stays
      return window;
    }
    default:
      if (const char* device = std::getenv("VELACLOCK_BENCH_I2C")) {
        const std::string text = device;
        const auto colon = text.find(':');
        return Fru::openI2cRegisterDevice(
            name,
            {.bus = static_cast<unsigned>(std::stoul(text.substr(0, colon))),
             .address = static_cast<std::uint8_t>(std::stoul(text.substr(colon + 1), nullptr, 0))});
      }
      return nullptr;
  }
}

// The SMBus device only where one is named.
int lastBackend() {
  return std::getenv("VELACLOCK_BENCH_I2C") ? 2 : 1;
}

void registerRead8(benchmark::State& state) {
  const auto window = registerWindow(state, "Bench");
  std::uint8_t data = 0;
  for (auto _ : state) {
    if (!window || window->read8(0x10, data) != Fru::AccessStatus::ok) break;
    benchmark::DoNotOptimize(data);
  }
}
BENCHMARK(registerRead8)->ArgName("backend")->DenseRange(0, lastBackend());

void registerWrite8(benchmark::State& state) {
  const auto window = registerWindow(state, "Bench");
  std::uint8_t value = 0;
  for (auto _ : state) {
    if (!window || window->write8(0x10, ++value) != Fru::AccessStatus::ok) break;
  }
}
BENCHMARK(registerWrite8)->ArgName("backend")->DenseRange(0, lastBackend());

// One poll of the PPS counter: the simulated pulse's counter device, or the counter register
// read in one 16-bit load.
void ppsPoll(benchmark::State& state) {
  const auto window = registerWindow(state, Pps::Counter::LumenHal::registerWindow);
  if (!window) return;
  if (const auto bank = Kel::dynamicPtrCast<Fru::SimRegisterBank>(window)) {
    bank->deviceIs(0x40, Kel::makePtr<Pps::Counter::SimCounterDevice>());
  }
  Fru::hamImplIs(Pps::Counter::LumenHal::registerWindow, window);
  Pps::Counter::LumenHal hal(0x40);
  for (auto _ : state) benchmark::DoNotOptimize(hal.ppsCount());
  Fru::hamImplsDelAll();
}
BENCHMARK(ppsPoll)->ArgName("backend")->DenseRange(0, lastBackend());

// A two-level route, searched and programmed through the mux registers on each backend.
void twoLevelRoute(benchmark::State& state) {
  unsetenv("SIMULATION_VMID");
  const auto bank = registerWindow(state, "IntelGpioHam");
  if (!bank) return;
  Fru::hamImplIs("IntelGpioHam", bank);
  // The muxes' Ham is made once per process: make it again on this backend.
  VelaClockAgent::clockMuxHamImpl = nullptr;
  VelaClockAgent::clockMuxHam = nullptr;
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
BENCHMARK(twoLevelRoute)->ArgName("backend")->DenseRange(0, lastBackend());

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
