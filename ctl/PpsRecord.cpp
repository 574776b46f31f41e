#include "ctl/PpsRecord.h"

#include <fmt/format.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace velaclockctl {

std::optional<PpsRecord> readPpsRecord(const std::string& instance, std::string& why) {
  char name[KEL_FLUME_NAME_SIZE];
  if (kel_flume_segment_name(name, sizeof name, geteuid(), instance.c_str(),
                             "ppsWaiter/timestamps") >= sizeof name) {
    why = "instance name too long";
    return std::nullopt;
  }
  kel_flume_segment segment{};
  if (const int error = kel_flume_open(&segment, name)) {
    why = fmt::format("no PPS edge table {} ({})", name, std::strerror(error));
    return std::nullopt;
  }
  PpsRecord record;
  const auto status = kel_flume_read(&segment, &record.edge, sizeof record.edge, &record.info);
  kel_flume_close(&segment);
  switch (status) {
    case KEL_FLUME_OK:
      return record;
    case KEL_FLUME_EMPTY:
      why = "no PPS edge published yet";
      break;
    case KEL_FLUME_BUSY:
      why = "the writer kept the record busy; try again";
      break;
    case KEL_FLUME_BAD_SEGMENT:
      why = fmt::format("{} is not a PPS edge table", name);
      break;
  }
  return std::nullopt;
}

std::string utcNanoseconds(std::uint64_t ns) {
  const auto seconds = static_cast<std::time_t>(ns / 1000000000ULL);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:09}Z", tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ns % 1000000000ULL);
}

}  // namespace velaclockctl
