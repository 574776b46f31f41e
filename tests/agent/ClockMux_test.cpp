#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "agent/MuxFixture.h"
#include "platform/TestTypes.h"
#include "support/Golden.h"

using VelaClockAgent::setupMuxToSelectSource;
using Method = Clock::Mux::AccessMethod;

TEST_F(MuxFixture, ProgramsTheFieldUnderTheMaskAndChecksIt) {
  addMux("m", 0x30, 0x0F, {{"gps", 0x05}, {"osc", 0x06}});
  startMonitor();
  bank->poke(0x30, 0xA3);
  CapturedTrace trace("VelaClockAgent/0");
  setupMuxToSelectSource("m", "gps", config, status);

  EXPECT_EQ(bank->accesses(),
            (std::vector<Access>{
                {Op::read8, 0x30, 0xA3}, {Op::write8, 0x30, 0xA5}, {Op::read8, 0x30, 0xA5}}));
  EXPECT_EQ(selected("m"), "gps");
  EXPECT_TRUE(matchesGolden(trace.messages(), "mux/program.trace"));
  const auto origins = trace.origins();  // each line names its own statement, under the operation
  EXPECT_EQ(std::set(origins.begin(), origins.end()).size(), origins.size());
  for (const auto& origin : origins) {
    EXPECT_THAT(origin,
                testing::MatchesRegex("VelaClock/ClockMux.cpp:[0-9]+ setupMuxToSelectSource"));
  }
}

TEST_F(MuxFixture, OnlyTheLowEightBitsOfMaskAndValueCount) {
  addMux("m", 0x31, 0x1F0, {{"a", 0x1A0}});
  startMonitor();
  bank->poke(0x31, 0x0F);
  CapturedTrace trace("VelaClockAgent/0");
  setupMuxToSelectSource("m", "a", config, status);
  EXPECT_EQ(bank->peek(0x31), 0xAF);
  EXPECT_EQ(trace.count("new setting is found to be as expected"), 1u);
  EXPECT_EQ(selected("m"), "a");
}

TEST_F(MuxFixture, AFailedReadBackLeavesTheStatusAsItWas) {
  addMux("m", 0x32, 0x0F, {{"a", 0x05}, {"b", 0x06}, {"outside", 0x15}});
  startMonitor();
  setupMuxToSelectSource("m", "a", config, status);
  ASSERT_EQ(selected("m"), "a");

  // A select value with a bit outside the mask: written, but the check under the mask fails.
  CapturedTrace trace("VelaClockAgent/0");
  setupMuxToSelectSource("m", "outside", config, status);
  EXPECT_EQ(bank->peek(0x32), 0x15);
  EXPECT_EQ(trace.count("did not take: re-read 0x15 under bitMask 0xf is not bitValue 0x15; "
                        "sourceSelect stays \"a\""),
            1u);
  EXPECT_EQ(selected("m"), "a");

  // A stuck bit: the register never holds the selection of another source, and the status goes
  // back from that source to the one it named before.
  bank->stuckBitsIs(0x32, 0x02, 0x00);
  const auto entry = status->muxStatus("m");
  auto recorder = Kel::makePtr<KelTest::Recorder>(entry);
  setupMuxToSelectSource("m", "b", config, status);
  EXPECT_EQ(bank->peek(0x32), 0x14);
  EXPECT_EQ(trace.count("did not take: re-read 0x14 under bitMask 0xf is not bitValue 0x6; "
                        "sourceSelect stays \"a\""),
            1u);
  EXPECT_EQ(recorder->heard.size(), 2u);  // named "b", then "a" again
  EXPECT_EQ(selected("m"), "a");
}

// A register backend that fails one chosen access (counted from 0) and hands the others to a bank.
class FailingHamImpl : public Fru::HamImpl {
 public:
  FailingHamImpl(Kel::Ptr<Fru::SimRegisterBank> bank, int failing, Fru::AccessStatus status)
      : bank_(std::move(bank)), failing_(failing), status_(status) {}
  Fru::AccessStatus read8(std::uint32_t address, std::uint8_t& data) override {
    return accesses_++ == failing_ ? status_ : bank_->read8(address, data);
  }
  Fru::AccessStatus write8(std::uint32_t address, std::uint8_t value) override {
    return accesses_++ == failing_ ? status_ : bank_->write8(address, value);
  }
  Fru::AccessStatus read16(std::uint32_t address, std::uint16_t& data) override {
    return accesses_++ == failing_ ? status_ : bank_->read16(address, data);
  }
  void hamIs(const Kel::Ptr<Fru::Ham>&) override {}

 private:
  Kel::Ptr<Fru::SimRegisterBank> bank_;
  int failing_;
  Fru::AccessStatus status_;
  int accesses_ = 0;
};

TEST_F(MuxFixture, AFailedRegisterAccessRecordsNoSelection) {
  addMux("m", 0x33, 0x0F, {{"a", 0x05}, {"b", 0x06}});
  startMonitor();
  setupMuxToSelectSource("m", "a", config, status);
  using enum Fru::AccessStatus;
  // The access that fails (the first read, the write, the read-back), its line, the register and
  // the status changes heard after it.
  const std::tuple<int, Fru::AccessStatus, const char*, int, std::size_t> cases[] = {
      {0, noDevice, "read8 of the reg 0x33 failed: noDevice; mux m not switched", 0x05, 0},
      {1, badAddress, "write8 of the reg 0x33 failed: badAddress; mux m not switched", 0x05, 0},
      {2, noDevice, "read8 of the reg 0x33 failed: noDevice; sourceSelect stays \"a\"", 0x06, 2}};
  for (const auto& [failing, result, line, registerAfter, heard] : cases) {
    VelaClockAgent::clockMuxHamImpl = Kel::makePtr<FailingHamImpl>(bank, failing, result);
    bank->poke(0x33, 0x05);
    bank->accessesDelAll();
    auto recorder = Kel::makePtr<KelTest::Recorder>(status->muxStatus("m"));
    CapturedTrace trace("VelaClockAgent/0");
    setupMuxToSelectSource("m", "b", config, status);
    EXPECT_EQ(bank->accesses().size(), std::size_t(failing)) << line;  // none after the failure
    EXPECT_EQ(bank->peek(0x33), registerAfter) << line;
    EXPECT_EQ(recorder->heard.size(), heard) << line;
    EXPECT_EQ(selected("m"), "a") << line;
    EXPECT_EQ(trace.messages().back(), std::string("setupMuxToSelectSource(): ") + line);
  }
}

TEST_F(MuxFixture, OtherAccessMethodsTouchNothing) {
  addMux("cpld", 0x40, 0x03, {{"a", 1}}, {}, Method::cpldRegister);
  addMux("fpga", 0x41, 0x03, {{"a", 1}}, {}, Method::fpgaRegister);
  addMux("nine", 0x42, 0x03, {{"a", 1}}, {}, static_cast<Method>(9));
  startMonitor();
  for (const char* mux : {"cpld", "fpga", "nine"}) {
    CapturedTrace trace("VelaClockAgent/0");
    setupMuxToSelectSource(mux, "a", config, status);
    const auto lines = trace.messages();
    const bool told = std::string(mux) != "nine";
    ASSERT_EQ(lines.size(), told ? 4u : 3u) << mux;
    if (told) {
      EXPECT_EQ(lines.back(),
                "setupMuxToSelectSource(): This muxAccessMethod is not yet implemented.");
    }
    EXPECT_EQ(selected(mux), "") << mux;
  }
  EXPECT_TRUE(bank->accesses().empty());
}

TEST_F(MuxFixture, MuxesSharingARegisterKeepEachOthersBits) {
  addMux("low", 0x50, 0x0F, {{"a", 0x1}, {"b", 0x2}});
  addMux("high", 0x50, 0xF0, {{"c", 0x10}, {"d", 0x20}});
  startMonitor();
  setupMuxToSelectSource("low", "b", config, status);
  setupMuxToSelectSource("high", "d", config, status);
  EXPECT_EQ(bank->peek(0x50), 0x22);
  setupMuxToSelectSource("low", "a", config, status);
  EXPECT_EQ(bank->peek(0x50), 0x21);
  EXPECT_EQ(selected("low"), "a");
  EXPECT_EQ(selected("high"), "d");
}

TEST_F(MuxFixture, BrokenPreconditionsAreToldAndTouchNothing) {
  addMux("m", 0x60, 0x0F, {{"a", 1}});
  CapturedTrace trace("VelaClockAgent/0");
  setupMuxToSelectSource("m", "a", config, status);  // no status entry yet
  EXPECT_EQ(trace.count("mux m has no status entry; nothing switched"), 1u);

  SCOPED_TRACE("simulated monitor: no shared Ham");
  setenv("SIMULATION_VMID", "vm1", 1);
  startMonitor();
  unsetenv("SIMULATION_VMID");
  setupMuxToSelectSource("m", "a", config, status);
  EXPECT_EQ(trace.count("no clockMuxHamImpl yet: mux m not switched"), 1u);
  setupMuxToSelectSource("absent", "a", config, status);
  EXPECT_EQ(trace.count("mux absent is not configured; nothing switched"), 1u);
  setupMuxToSelectSource("m", "elsewhere", config, status);
  EXPECT_EQ(trace.count("mux m has no source elsewhere; nothing switched"), 1u);
  setupMuxToSelectSource("m", "a", nullptr, nullptr);
  EXPECT_EQ(getMuxByName("m", nullptr), nullptr);
  EXPECT_EQ(getMuxForSink("fpga", nullptr), nullptr);
  EXPECT_TRUE(bank->accesses().empty());
  EXPECT_EQ(selected("m"), "");
}
