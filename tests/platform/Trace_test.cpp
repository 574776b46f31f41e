#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>

#include "Kel/Trace.h"
#include "Kel/VirtualTime.h"
#include "support/CapturedTrace.h"
#include "support/Descriptors.h"

namespace {

int evaluations = 0;
int counted(int value) {
  ++evaluations;
  return value;
}

}  // namespace

TEST(Trace, DisabledLevelsNeverEvaluateTheirOperands) {
  CapturedTrace trace("Quiet/0");
  Kel::TraceHandle& handle = Kel::traceHandle("Quiet");
  evaluations = 0;
  KEL_TRACE(handle, 5) << "never " << counted(1);
  if (true)
    KEL_TRACE(handle, 7) << counted(2);  // no dangling else
  else
    ADD_FAILURE();
  EXPECT_EQ(evaluations, 0);
  EXPECT_TRUE(trace.lines.empty());
  KEL_TRACE(handle, 0) << "once " << counted(3);
  EXPECT_EQ(evaluations, 1);
  EXPECT_EQ(trace.lines.size(), 1u);
}

TEST(Trace, LineFormat) {
  Kel::VirtualTime time(10.0, 1796659200.25);  // 2026-12-07T16:00:00.25Z
  CapturedTrace trace("Format");
  const std::uint8_t data = 0xa5;
  KEL_TRACE(Kel::traceHandle("Format"), 3) << "data is " << std::hex << data << " ok";
  const int line = __LINE__ - 1;
  ASSERT_EQ(trace.lines.size(), 1u);
  EXPECT_EQ(trace.lines[0], "2026-12-07T16:00:00.250000Z " + std::to_string(getpid()) +
                                " Format/3 tests/platform/Trace_test.cpp:" + std::to_string(line) +
                                " TestBody data is a5 ok");
  EXPECT_EQ(Kel::traceTimestamp(1796659200.9999996), "2026-12-07T16:00:01.000000Z");
}

// logrotate's SIGHUP reopens the trace file: each reopening lets go of the file it replaces.
TEST(Trace, ReopeningTheFileKeepsOneDescriptor) {
  const auto file =
      std::filesystem::temp_directory_path() / ("velaclock-trace-" + std::to_string(getpid()));
  setenv("TRACEFILE", file.c_str(), 1);
  Kel::traceFileReopen();
  const auto descriptors = openDescriptors();
  Kel::traceFileReopen();
  EXPECT_EQ(openDescriptors(), descriptors);
  unsetenv("TRACEFILE");
  std::filesystem::remove(file);
}

TEST(Trace, FilterGrammarAndEffect) {
  Kel::TraceHandle& vela = Kel::traceHandle("VelaClockAgent");
  Kel::TraceHandle& port = Kel::traceHandle("PortPolicySm");

  ASSERT_TRUE(Kel::traceFilterIs("VelaClockAgent/0-57-7"));  // 7-7: a range of one level
  EXPECT_EQ(vela.levels(), 0b0010111111);
  EXPECT_EQ(port.levels(), 0);

  ASSERT_TRUE(Kel::traceFilterIs("*/0, VelaClockAgent/79"));  // union of every matching term
  EXPECT_EQ(vela.levels(), 0b1010000001);
  EXPECT_EQ(port.levels(), 0b1);

  ASSERT_TRUE(Kel::traceFilterIs("Port*"));  // bare facility: every level
  EXPECT_EQ(port.levels(), 0x3FF);
  EXPECT_EQ(vela.levels(), 0);
  EXPECT_EQ(Kel::traceHandle("PortNew").levels(), 0x3FF);  // later handles follow too

  using namespace std::string_view_literals;
  for (const std::string_view bad : {"Vela/"sv, "Vela/5-3"sv, "Vela/a"sv, "/5"sv, "Vela//5"sv,
                                     "Ve la/1"sv, "Vela/1-"sv, "Vela\0x/1"sv, "\0"sv}) {
    std::string error;
    EXPECT_FALSE(Kel::traceFilterIs(bad, &error)) << bad;
    EXPECT_NE(error.find("bad trace filter term"), std::string::npos) << bad;
    EXPECT_EQ(port.levels(), 0x3FF) << bad;  // nothing changed
    EXPECT_EQ(Kel::traceFilter(), "Port*");
  }
  ASSERT_TRUE(Kel::traceFilterIs(""));
  EXPECT_EQ(port.levels(), 0);
}
