#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "Fru/GpioLine.h"
#include "Fru/Gpo.h"
#include "Fru/Ham.h"
#include "Fru/Hardware.h"
#include "Fru/MmioWindow.h"
#include "Fru/SimRegisterBank.h"
#include "Kel/Dir.h"
#include "support/Descriptors.h"

using Fru::AccessStatus;
using Fru::SimRegisterBank;
using Kel::makePtr;

namespace {
// What a mux programming step does: read, replace the bits under the mask, write, read back.
std::uint8_t readModifyWrite(Fru::HamImpl& impl, std::uint32_t reg, std::uint8_t mask,
                             std::uint8_t bits) {
  std::uint8_t data = 0;
  EXPECT_EQ(impl.read8(reg, data), AccessStatus::ok);
  EXPECT_EQ(impl.write8(reg, std::uint8_t((data & ~mask) | bits)), AccessStatus::ok);
  EXPECT_EQ(impl.read8(reg, data), AccessStatus::ok);
  return data;
}

class FixedDevice : public Fru::RegisterDevice {
 public:
  std::uint16_t read16() override { return 0x1234; }
};
}  // namespace

TEST(Hardware, RegisterBankReadModifyWriteAndItsRecord) {
  auto bank = makePtr<SimRegisterBank>("bank", 16);
  bank->poke(3, 0xA3);
  bank->recordingIs(true);
  EXPECT_EQ(readModifyWrite(*bank, 3, 0x0F, 0x05), 0xA5);
  using Op = SimRegisterBank::Operation;
  EXPECT_EQ(bank->accesses(),
            (std::vector<SimRegisterBank::Access>{
                {Op::read8, 3, 0xA3}, {Op::write8, 3, 0xA5}, {Op::read8, 3, 0xA5}}));

  std::uint8_t data = 0x77;
  EXPECT_EQ(bank->read8(16, data), AccessStatus::badAddress);
  EXPECT_EQ(bank->peek(16), 0);
  EXPECT_EQ(bank->write8(16, 1), AccessStatus::badAddress);
  EXPECT_EQ(data, 0x77);
  std::uint16_t count = 0;
  EXPECT_EQ(bank->read16(4, count), AccessStatus::noDevice);  // plain registers are 8 bits
  bank->deviceIs(4, makePtr<FixedDevice>());
  EXPECT_EQ(bank->read16(4, count), AccessStatus::ok);
  EXPECT_EQ(count, 0x1234);
  EXPECT_EQ(bank->accesses().size(), 4u);
}

TEST(Hardware, StuckBitsDefeatTheWrite) {
  auto bank = makePtr<SimRegisterBank>("bank", 16);
  bank->stuckBitsIs(2, 0x01, 0x00);  // bit 0 stuck at 0
  EXPECT_EQ(readModifyWrite(*bank, 2, 0x0F, 0x05), 0x04);
  EXPECT_EQ(readModifyWrite(*bank, 2, 0xF0, 0x31), 0x34);  // the other bits still work
  bank->stuckBitsIs(2, 0x80, 0x80);                        // now bit 7 stuck at 1, bit 0 free again
  EXPECT_EQ(bank->peek(2), 0xB5);     // the last write landed underneath the old fault
  bank->stuckBitsIs(16, 0x01, 0x01);  // past the last register: nothing to hold, nothing written
  EXPECT_EQ(bank->contents(),
            std::vector<std::uint8_t>({0, 0, 0xB5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Hardware, FileBackedRegistersSurviveARestart) {
  const auto file =
      std::filesystem::temp_directory_path() / ("velaclock-regs-" + std::to_string(getpid()));
  const auto descriptors = openDescriptors();
  {
    auto bank = makePtr<SimRegisterBank>("IntelGpioHam", 64, file);
    ASSERT_EQ(bank->write8(0x20, 0x5A), AccessStatus::ok);
  }
  auto again = makePtr<SimRegisterBank>("IntelGpioHam", 128, file);  // a larger bank grows
  std::uint8_t data = 0;
  EXPECT_EQ(again->read8(0x20, data), AccessStatus::ok);
  EXPECT_EQ(data, 0x5A);
  EXPECT_EQ(again->read8(100, data), AccessStatus::ok);
  EXPECT_EQ(data, 0);
  EXPECT_EQ(openDescriptors(), descriptors) << "a mapped bank keeps no descriptor";
  std::filesystem::remove(file);
  EXPECT_THROW(SimRegisterBank("x", 8, "/nonexistent-dir/regs"), std::system_error);

  // A symbolic link in the register file's place is not followed to whatever it names.
  const auto target = file.string() + ".target";
  std::filesystem::create_symlink(target, file);
  EXPECT_THROW(SimRegisterBank("x", 8, file), std::system_error);
  EXPECT_FALSE(std::filesystem::exists(target));
  std::filesystem::remove(file);
}

TEST(Hardware, ABankHoldsAtMostOneMebibyteOfRegisters) {
  EXPECT_EQ(SimRegisterBank("big", SimRegisterBank::maxRegisters).size(), 1u << 20);
  EXPECT_THROW(SimRegisterBank("huge", SimRegisterBank::maxRegisters + 1), std::length_error);
  const auto file =
      std::filesystem::temp_directory_path() / ("velaclock-huge-" + std::to_string(getpid()));
  EXPECT_THROW(SimRegisterBank("huge", 4000000000u, file), std::length_error);
  EXPECT_FALSE(std::filesystem::exists(file));  // refused before the file is made
}

TEST(Hardware, HamsFindTheirDescribedBackendOrGetPlainRegisters) {
  Fru::hamImplsDelAll();
  auto described = makePtr<SimRegisterBank>("IntelGpioHam", 32);
  Fru::hamImplIs("IntelGpioHam", described);
  auto ham = makePtr<Fru::Ham>("IntelGpioHam", Fru::HamType::gpioController, nullptr, 0, 0, "");
  EXPECT_EQ(ham->hamImpl(), described);
  EXPECT_EQ(ham->hamType(), Fru::HamType::gpioController);

  auto other = makePtr<Fru::Ham>("Elsewhere");
  const auto impl = other->hamImpl();
  ASSERT_NE(impl, nullptr);
  EXPECT_EQ(other->hamImpl(), impl);  // made once, then described
  EXPECT_EQ(Fru::hamImpls().size(), 2u);
  Fru::hamImplsDelAll();
}

TEST(Hardware, GpoDrivesTheLineOfItsName) {
  Fru::gpoLinesDelAll();
  auto dir = makePtr<Kel::Dir>("gpo");
  dir->entityIs(makePtr<Fru::Gpo>("PCA9554-1-smaRelaySw"));
  const Kel::Ptr<const Kel::Dir> readOnly = dir;
  const auto gpo = Kel::dynamicPtrCast<const Fru::Gpo>(readOnly->entityPtr("PCA9554-1-smaRelaySw"));
  ASSERT_NE(gpo, nullptr);
  Fru::gpoLine("PCA9554-1-smaRelaySw").asserted = true;
  gpo->assertedIs(false);
  EXPECT_FALSE(Fru::gpoLine("PCA9554-1-smaRelaySw").asserted);
  EXPECT_EQ(gpo->writeCount(), 1u);
  EXPECT_FALSE(gpo->fwkType().attribute("asserted")->isWritable());
  EXPECT_EQ(readOnly->entityPtr("absent"), nullptr);
}

namespace {
// A regular file standing in for a device's register window (a BAR's sysfs resource file is one).
struct WindowFile {
  std::filesystem::path path;
  explicit WindowFile(std::uintmax_t size, const std::string& name = "window")
      : path(std::filesystem::temp_directory_path() /
             ("velaclock-" + name + "-" + std::to_string(getpid()))) {
    std::ofstream(path).put('\0');
    std::filesystem::resize_file(path, size);
  }
  ~WindowFile() { std::filesystem::remove_all(path); }
  std::uint8_t byteAt(std::uint64_t offset) const {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    return static_cast<std::uint8_t>(in.get());
  }
};

// A PCI function as sysfs shows it, under a root of its own.
struct FakeSysfs {
  WindowFile root{0, "sysfs"};
  std::filesystem::path function;
  explicit FakeSysfs(std::uintmax_t barSize) {
    std::filesystem::remove(root.path);
    function = root.path / "bus/pci/devices/0000:00:05.0";
    std::filesystem::create_directories(function);
    std::ofstream(function / "vendor") << "0x1af4\n";
    std::ofstream(function / "device") << "0x1110\n";
    std::ofstream(function / "enable") << "0\n";
    std::ofstream(function / "resource2").put('\0');
    std::filesystem::resize_file(function / "resource2", barSize);
  }
  std::string enable() const {
    std::ifstream in(function / "enable");
    std::string line;
    std::getline(in, line);
    return line;
  }
};

std::string refusal(const Fru::MmioWindowLocation& location, const std::filesystem::path& sysfs) {
  try {
    Fru::openMmioWindow("W", location, Fru::OpenMode::probe, sysfs);
  } catch (const Fru::DeviceError& error) {
    return error.what();
  }
  return "";
}
}  // namespace

TEST(Hardware, AnMmioWindowReachesItsLastRegisterAndNothingBeyond) {
  const WindowFile file(0x2000);
  const auto descriptors = openDescriptors();
  auto window = Fru::openMmioWindow(
      "W", {.path = file.path.string(), .offset = 0x1000, .size = 0x100}, Fru::OpenMode::use);
  EXPECT_EQ(window->write8(0xFF, 0xA5), AccessStatus::ok);
  EXPECT_EQ(file.byteAt(0x10FF), 0xA5);  // it reached the device, at the window's offset
  std::uint8_t data = 0;
  EXPECT_EQ(window->read8(0xFF, data), AccessStatus::ok);
  EXPECT_EQ(data, 0xA5);
  data = 0x77;
  EXPECT_EQ(window->read8(0x100, data), AccessStatus::badAddress);
  EXPECT_EQ(window->write8(0x100, 1), AccessStatus::badAddress);
  EXPECT_EQ(file.byteAt(0x1100), 0);
  EXPECT_EQ(data, 0x77);
  std::uint16_t count = 0;
  EXPECT_EQ(window->write8(0xFE, 0x34), AccessStatus::ok);
  EXPECT_EQ(window->read16(0xFE, count), AccessStatus::ok);  // the last 16-bit register
  EXPECT_EQ(count, 0xA534);
  EXPECT_EQ(window->read16(0xFF, count), AccessStatus::badAddress);
  EXPECT_EQ(window->read16(0xFFFFFFFF, count), AccessStatus::badAddress);
  // At an odd offset every 16-bit register of the window is unaligned in the device.
  auto odd = Fru::openMmioWindow("W", {.path = file.path.string(), .offset = 1, .size = 16},
                                 Fru::OpenMode::use);
  EXPECT_EQ(odd->read16(2, count), AccessStatus::badAddress);
  EXPECT_EQ(openDescriptors(), descriptors) << "a mapped window keeps no descriptor";
}

// Two byte loads would see a counter going from 0x00ff to 0x0100 as 0x0000 or 0x01ff.
TEST(Hardware, AnMmioCounterIsReadInOneLoad) {
  const WindowFile file(0x1000);
  auto window =
      Fru::openMmioWindow("W", {.path = file.path.string(), .size = 0x100}, Fru::OpenMode::use);
  // The FPGA's side: its own mapping, storing the counter's two bytes at once.
  const int fd = open(file.path.c_str(), O_RDWR);
  void* map = mmap(nullptr, 0x1000, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  ASSERT_NE(map, MAP_FAILED);
  auto* counter = reinterpret_cast<std::atomic<std::uint16_t>*>(static_cast<char*>(map) + 0x40);
  counter->store(0x00FF);
  std::atomic<bool> done = false;
  std::thread fpga([&] {
    for (std::uint16_t value = 0x00FF; !done.load(std::memory_order_relaxed); value ^= 0x01FF) {
      counter->store(value, std::memory_order_relaxed);
    }
  });
  std::map<std::uint16_t, unsigned> seen;
  for (int i = 0; i < 2000000; ++i) {
    std::uint16_t count = 0;
    ASSERT_EQ(window->read16(0x40, count), AccessStatus::ok);
    ++seen[count];
  }
  done = true;
  fpga.join();
  munmap(map, 0x1000);
  for (const auto& [value, times] : seen) {
    EXPECT_TRUE(value == 0x00FF || value == 0x0100) << std::hex << value << " seen " << times;
  }
}

TEST(Hardware, AnMmioWindowBeyondItsDeviceIsRefusedBeforeAnyAccess) {
  const WindowFile file(0x1000);
  const FakeSysfs sysfs(0x1000);
  const std::string path = file.path.string();
  const std::vector<std::pair<Fru::MmioWindowLocation, std::string>> cases{
      {{.path = path, .size = 0x1001}, "the window 0x0 to 0x1001 lies beyond the 0x1000 bytes"},
      {{.path = path, .offset = 0x1000, .size = 1}, "the window 0x1000 to 0x1001 lies beyond"},
      {{.path = path, .offset = UINT64_MAX, .size = 2}, "the window 0xffffffffffffffff to"},
      {{.path = path + ".absent", .size = 1}, "cannot open " + path + ".absent: No such file"},
      {{.path = "/dev/uio7", .size = 1}, "/dev/uio7 has no memory map 0"},
      {{.pci = "1af4:1110", .bar = 2, .size = 0x2000}, "the window 0x0 to 0x2000 lies beyond"},
      {{.pci = "1af4:1111", .bar = 2, .size = 1}, "no PCI function 1af4:1111 in"},
      {{.pciAddress = "0000:00:06.0", .bar = 2, .size = 1}, "no PCI function at 0000:00:06.0"},
      {{.pciAddress = "0000:00:05.0", .bar = 0, .size = 1}, "0000:00:05.0 has no memory BAR 0"},
  };
  for (const auto& [location, message] : cases) {
    const std::string refused = refusal(location, sysfs.root.path);
    EXPECT_EQ(refused.rfind("register bank W: ", 0), 0u) << refused;
    EXPECT_NE(refused.find(message), std::string::npos) << refused << "\nexpected: " << message;
  }
  EXPECT_EQ(refusal({.pci = "1AF4:1110", .bar = 2, .size = 0x1000}, sysfs.root.path), "");
  EXPECT_EQ(sysfs.enable(), "0");  // a probe changes nothing
  Fru::openMmioWindow("W", {.pci = "1af4:1110", .bar = 2, .size = 0x1000}, Fru::OpenMode::use,
                      sysfs.root.path);
  EXPECT_EQ(sysfs.enable(), "1");  // memory decoding on before the first access
}

// No GPIO chip can be had here (nor in the hardware tier's guest): what a missing one does.
TEST(Hardware, AGpioLineOnAMissingChipIsRefusedByName) {
  try {
    Fru::GpioLine line("Relay", {.chip = "velaclock-no-such-chip", .line = 0});
    ADD_FAILURE() << "a line on a missing chip was opened";
  } catch (const Fru::DeviceError& error) {
    EXPECT_EQ(
        std::string(error.what()).rfind("line Relay: no GPIO chip `velaclock-no-such-chip`: ", 0),
        0u)
        << error.what();
  }
}
