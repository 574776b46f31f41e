// How `velaclockctl save` shares the event loop: a platform description is loaded and saved in
// process, on real time, while wake-ups on the PPS waiter's schedule (a long sleep, then one every
// millisecond as it closes in on the edge due each second) measure how late the loop comes to
// them. Prints the save's time, the longest loop turn during it and the latest wake-up, beside the
// same wake-ups' lateness with no save.
//   save_bench DESCRIPTION.yaml [--fill BANK=BYTE|random]
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "Kel/Activity.h"
#include "host/ControlServer.h"
#include "host/PlatformDescription.h"
#include "host/SaveJob.h"
#include "tests/support/ReplyCollector.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Wake-ups as the PPS waiter's come: 15 one millisecond apart around each second's edge, then a
// sleep until the next, recording how late each comes.
class Ticker : public Kel::Clock::NotifieeConst {
 public:
  Ticker() {
    hasNotificationActiveIs(true);
    notifierIs(Kel::ActivityFacility::clock());
    timeMinIs(Kel::System::currentTime() + 1e-3);
  }
  void onAttribute(Kel::AttributeId, const void*) override {
    const Kel::Seconds now = Kel::System::currentTime();
    latest = std::max(latest, now - timeMin());
    step_ = (step_ + 1) % 16;
    timeMinIs(timeMin() + (step_ == 0 ? 0.985 : 1e-3));
  }
  Kel::Seconds latest = 0;

 private:
  int step_ = 0;
};

// CPU time of this thread: a turn's own work, whatever else the machine does meanwhile.
double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Turns {
  Clock::duration longestWall{};
  double longestCpu = 0;  // s
};

// Turns the loop until `done`, measuring the longest turn.
template <class Done>
Turns turnUntil(Done done) {
  Turns turns;
  while (!done()) {
    const auto start = Clock::now();
    const double cpu = threadSeconds();
    Kel::ActivityFacility::manager().turn(true);
    turns.longestWall = std::max(turns.longestWall, Clock::now() - start);
    turns.longestCpu = std::max(turns.longestCpu, threadSeconds() - cpu);
  }
  return turns;
}

void fill(const std::string& bankAndByte) {
  const auto equals = bankAndByte.find('=');
  const auto bank = Kel::dynamicPtrCast<Fru::SimRegisterBank>(
      Fru::describedHamImpl(bankAndByte.substr(0, equals)));
  if (!bank) throw std::runtime_error("no bank " + bankAndByte.substr(0, equals));
  const std::string what = bankAndByte.substr(equals + 1);
  std::mt19937 random(1);
  for (std::uint32_t address = 0; address < bank->size(); ++address) {
    bank->poke(address, static_cast<std::uint8_t>(what == "random" ? random()
                                                                   : std::stoul(what, nullptr, 0)));
  }
}

int run(int argc, char** argv) {
  CLI::App app{"save_bench: a save's time and the event loop's turns during it"};
  std::string file, fillSpec;
  app.add_option("DESCRIPTION", file, "platform description to load and save")->required();
  app.add_option("--fill", fillSpec, "before saving, set every register of BANK to BYTE or random");
  CLI11_PARSE(app, argc, argv);

  const auto description = velaclockd::readPlatformDescription(file);
  auto database = Kel::makePtr<Corral::EntityManager>("save_bench", ".");
  velaclockd::install(description, *database, std::filesystem::temp_directory_path());
  if (!fillSpec.empty()) fill(fillSpec);

  Ticker ticker;
  const auto quietStart = Clock::now();
  turnUntil([&] { return Clock::now() - quietStart > std::chrono::seconds(2); });
  const Kel::Seconds quietLatest = ticker.latest;
  ticker.latest = 0;

  ReplyCollector connection;
  const auto start = Clock::now();
  connection.replyLater(std::make_unique<velaclockd::SaveJob>(connection, *database, description));
  const Turns turns = turnUntil([&] { return !connection.reply.empty(); });
  const auto total = Clock::now() - start;
  const bool ok = connection.reply.starts_with(R"({"ok":true)");
  std::printf("save of %s: %s, reply %.2f MiB in %.3f s\n", file.c_str(), ok ? "done" : "refused",
              static_cast<double>(connection.reply.size()) / (1 << 20), seconds(total));
  std::printf("longest loop turn during it: %.3f ms of CPU, %.3f ms on the wall clock\n",
              turns.longestCpu * 1e3, seconds(turns.longestWall) * 1e3);
  std::printf("latest 1 ms wake-up: %.3f ms during the save, %.3f ms before it\n",
              ticker.latest * 1e3, quietLatest * 1e3);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "save_bench: %s\n", error.what());
    return 2;
  }
}
