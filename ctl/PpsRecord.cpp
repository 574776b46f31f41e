#include "ctl/PpsRecord.h"

#include <fmt/format.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace velaclockctl {

namespace {
PpsReading failed(PpsReadStatus status, std::string why) {
  return {status, {}, std::move(why)};
}
}  // namespace

PpsReading readPpsRecord(const std::string& instance) {
  char name[KEL_FLUME_NAME_SIZE];
  if (kel_flume_segment_name(name, sizeof name, geteuid(), instance.c_str(),
                             "ppsWaiter/timestamps") >= sizeof name) {
    return failed(PpsReadStatus::noTable, "instance name too long");
  }
  kel_flume_segment segment{};
  if (const int error = kel_flume_open(&segment, name)) {
    const std::string why = fmt::format("no PPS edge table {} ({})", name, std::strerror(error));
    return failed(PpsReadStatus::noTable, why + "; is velaclockd running?");
  }
  PpsReading reading{PpsReadStatus::ok, {}, {}};
  const auto status = kel_flume_read(&segment, &reading.record.edge, sizeof reading.record.edge,
                                     &reading.record.info);
  kel_flume_close(&segment);
  switch (status) {
    case KEL_FLUME_OK:
      return reading;
    case KEL_FLUME_EMPTY:
      return failed(PpsReadStatus::notPublished, "no PPS edge published yet");
    case KEL_FLUME_BUSY:
      return failed(PpsReadStatus::busy, "the writer kept the record busy; try again");
    case KEL_FLUME_BAD_SEGMENT:
      break;
  }
  return failed(PpsReadStatus::badTable, fmt::format("{} is not a PPS edge table", name));
}

std::string utcNanoseconds(std::uint64_t ns) {
  const auto seconds = static_cast<std::time_t>(ns / 1000000000ULL);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:09}Z", tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ns % 1000000000ULL);
}

}  // namespace velaclockctl
