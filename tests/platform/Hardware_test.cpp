#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Fru/Gpo.h"
#include "Fru/Ham.h"
#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "Kel/Dir.h"

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
  EXPECT_EQ(bank->write8(100, 1), AccessStatus::badAddress);
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
  EXPECT_EQ(bank->peek(2), 0xB5);  // the last write landed underneath the old fault
}

TEST(Hardware, FileBackedRegistersSurviveARestart) {
  const auto file =
      std::filesystem::temp_directory_path() / ("velaclock-regs-" + std::to_string(getpid()));
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
