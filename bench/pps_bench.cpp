// pps_bench: the PPS waiter on real time, side by side in one run with two bare pollers of the
// same counter model (the simulated pulse, an edge at each whole second of the wall clock): a
// busy-poll loop and a fixed 1 ms poll. For each: p50/p99/max of |published edge - true edge| and
// the CPU share of one core (user + system time over wall time); for the waiter also its CPU
// share while the PPS is lost, beside bare loops on its lost schedule, and how late this machine
// ends the 1 ms waits with which the waiter closes in on an edge. Exits 1 when the waiter misses
// one of its targets. Run it as `chrt -f 1 pps_bench` to see the waiter undisturbed by
// the scheduler on a loaded machine.
#include <sched.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Corral/EntityManager.h"
#include "Kel/Activity.h"
#include "KelSharedMem/EntityManager.h"
#include "Pps/Counter/MockHal.h"
#include "Pps/Counter/SimPulse.h"
#include "PpsPlot.h"
#include "VelaClock/PpsPoll.h"
#include "VelaClock/PpsWaiterSm.h"

namespace {

using VelaClockAgent::PpsEdgeTimestamps;

// Targets of the waiter, from the product's quality bars.
constexpr double maxP99ErrorUs = 10;
constexpr double maxP99OverBusyPoll = 3;
constexpr double maxCpuUp = 0.006;
constexpr double maxCpuLost = 0.0001;
// Time for the waiter to find the pulse, or to see that it is gone, before a phase is measured.
constexpr double settleSeconds = 3;

double monotonicNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// User + system time over wall time between its making and share().
class CpuShare {
 public:
  double share() const { return (cpuSeconds() - cpu_) / (monotonicNow() - wall_); }

 private:
  double cpu_ = cpuSeconds();
  double wall_ = monotonicNow();
};

// What one method measured: its published edges (ns) and its CPU share.
struct Phase {
  std::string method;
  std::vector<PpsEdgeTimestamps> edges;
  double cpu = 0;
  bool hasEdges = true;
};

// |edge - the whole second it stands for|, in ns, in the order the edges came.
std::vector<double> edgeErrors(const Phase& phase) {
  std::vector<double> errors;
  for (const PpsEdgeTimestamps& edge : phase.edges) {
    const double trueEdge = std::round(static_cast<double>(edge.edgeTimestamp) * 1e-9) * 1e9;
    errors.push_back(std::abs(static_cast<double>(edge.edgeTimestamp) - trueEdge));
  }
  return errors;
}

// |edge - the whole second it stands for|, in ns, sorted.
std::vector<double> sortedErrors(const Phase& phase) {
  std::vector<double> errors = edgeErrors(phase);
  std::sort(errors.begin(), errors.end());
  return errors;
}

double percentileUs(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return NAN;
  const auto rank =
      static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1] * 1e-3;
}

// Stops the event loop once the activity clock reaches a given time.
class StopAt : public Kel::Clock::NotifieeConst {
 public:
  explicit StopAt(Kel::Seconds time) {
    hasNotificationActiveIs(true);
    notifierIs(Kel::ActivityFacility::clock());
    timeMinIs(time);
  }
  void onAttribute(Kel::AttributeId, const void*) override {
    Kel::ActivityFacility::manager().stop();
  }
};

void runLoopFor(double seconds) {
  const auto stop = Kel::makePtr<StopAt>(Kel::System::currentTime() + seconds);
  Kel::ActivityFacility::manager().run();
}

// Keeps every record the waiter publishes, from its notification.
class Recorder : public Kel::PtrInterface::NotifieeConst {
 public:
  explicit Recorder(const Kel::Ptr<VelaClockAgent::PpsWaiterTimestamps>& table) {
    notifierIs(table);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
  }
  void onAttribute(Kel::AttributeId, const void* value) override {
    if (recording) edges.push_back(*static_cast<const PpsEdgeTimestamps*>(value));
  }
  bool recording = false;
  std::vector<PpsEdgeTimestamps> edges;
};

// The shared-memory edge table, mounted as the agent mounts it.
Kel::Ptr<VelaClockAgent::PpsWaiterTimestamps> mountedTable(
    const Kel::Ptr<Corral::EntityManager>& database) {
  const auto tables = KelSharedMem::getEntityManager(database);
  KelFlume::MountInfo mountInfo{KelFlume::KelFlumeType(0)};
  mountInfo.collectionInfoIs(KelFlume::CollectionInfo("ppsEdgeTimestamps", 1, false));
  if (!tables->doMount("ppsWaiter/timestamps", "VelaClockAgent::PpsWaiterTimestamps", mountInfo)) {
    throw std::runtime_error("cannot mount the PPS edge table: " + tables->error());
  }
  return Kel::dynamicPtrCast<VelaClockAgent::PpsWaiterTimestamps>(
      tables->getEntity("ppsWaiter/timestamps"));
}

// The waiter on a mock counter with a poll period of 1 s, on the real-time event loop of this
// thread, with a recorder of what it publishes.
class WaiterRig {
 public:
  WaiterRig()
      : database_(Kel::makePtr<Corral::EntityManager>("ppsbench-" + std::to_string(getpid()),
                                                      std::filesystem::path("/nonexistent"))),
        table_(mountedTable(database_)),
        recorder_(Kel::makePtr<Recorder>(table_)) {
    Kel::ActivityFacility::activityManagerConfig()->useEpollIs(true);
    const auto config = Kel::makePtr<VelaClockAgent::PpsWaiterConfig>("config");
    config->ppsPollPeriodIs(1.0);
    config->ppsCounterIs(Kel::makePtr<Hardware::Pps::CounterCommon>("mock"));
    waiter_ = VelaClockAgent::PpsWaiterSm::PpsWaiterSmIs(
        config, Kel::makePtr<VelaClockAgent::PpsWaiterStatus>("status"));
    waiter_->ppsWaiterTimestampsIs(table_);
  }
  ~WaiterRig() { shm_unlink(table_->segmentName().c_str()); }
  WaiterRig(const WaiterRig&) = delete;
  WaiterRig& operator=(const WaiterRig&) = delete;

  // `seconds` with the pulse up (or lost), measured once the waiter has settled.
  Phase phase(const std::string& method, double seconds, bool pulseUp) {
    Pps::Counter::simPulse().pulseStoppedIs(!pulseUp);
    runLoopFor(settleSeconds);
    recorder_->edges.clear();
    recorder_->recording = pulseUp;
    const CpuShare cpu;
    runLoopFor(seconds);
    Phase measured{method, std::move(recorder_->edges), cpu.share(), pulseUp};
    recorder_->recording = false;
    recorder_->edges.clear();
    // The bare pollers read the same simulated pulse.
    Pps::Counter::simPulse().pulseStoppedIs(false);
    return measured;
  }

 private:
  Kel::Ptr<Corral::EntityManager> database_;
  Kel::Ptr<VelaClockAgent::PpsWaiterTimestamps> table_;
  Kel::Ptr<Recorder> recorder_;
  Kel::Ptr<VelaClockAgent::PpsWaiterSm> waiter_;
};

// A bare poller of the same counter: reads it, and on a drop publishes the edge as the waiter
// does (the poll's wall-clock time minus the count). `pause` runs between reads.
template <class Pause>
Phase barePoller(const char* method, double seconds, Pause pause) {
  Pps::Counter::MockHal counter;
  Phase phase{method, {}, 0, true};
  phase.edges.reserve(static_cast<std::size_t>(seconds) + 2);
  std::uint32_t last = 0;
  const double end = monotonicNow() + seconds;
  const CpuShare cpu;
  while (monotonicNow() < end) {
    const std::uint16_t count = counter.ppsCount();
    if (VelaClockAgent::isPpsEdge(count, last)) {
      const std::uint64_t poll = VelaClockAgent::utcNanoseconds(Kel::System::currentTimeUtc());
      phase.edges.push_back({0, VelaClockAgent::edgeTimestamp(poll, count), poll});
    }
    last = count;
    pause();
  }
  phase.cpu = cpu.share();
  return phase;
}

// A timer descriptor in epoll, armed at absolute times of the monotonic clock: the way the event
// loop waits.
class TimerFdWait {
 public:
  TimerFdWait() {
    if (timer_ < 0 || poller_ < 0) throw std::runtime_error("cannot make a timer descriptor");
    epoll_event watch{};
    watch.events = EPOLLIN;
    epoll_ctl(poller_, EPOLL_CTL_ADD, timer_, &watch);
  }
  TimerFdWait(const TimerFdWait&) = delete;
  TimerFdWait& operator=(const TimerFdWait&) = delete;
  ~TimerFdWait() {
    close(poller_);
    close(timer_);
  }
  void waitUntil(const timespec& due) {
    itimerspec setting{};
    setting.it_value = due;
    timerfd_settime(timer_, TFD_TIMER_ABSTIME, &setting, nullptr);
    epoll_event ready{};
    epoll_wait(poller_, &ready, 1, -1);
  }

 private:
  int timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  int poller_ = epoll_create1(EPOLL_CLOEXEC);
};

void advance(timespec& time, long ns) {
  time.tv_nsec += ns;
  while (time.tv_nsec >= 1000000000) {
    time.tv_nsec -= 1000000000;
    ++time.tv_sec;
  }
}

// A bare poller that reads the counter every `periodNs` on the monotonic clock.
Phase fixedPoll(const char* method, double seconds, long periodNs) {
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  return barePoller(method, seconds, [&next, periodNs] {
    advance(next, periodNs);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  });
}

// A bare poller that waits as the event loop does, every `periodNs`. Its CPU share is the floor of
// that way of waiting on this machine, whatever runs between the waits.
Phase timerFdPoll(const char* method, double seconds, long periodNs) {
  TimerFdWait wait;
  timespec due{};
  clock_gettime(CLOCK_MONOTONIC, &due);
  return barePoller(method, seconds, [&] {
    advance(due, periodNs);
    wait.waitUntil(due);
  });
}

// How late this machine ends 1 ms waits of the event loop's kind, in ns, sorted. The waiter closes
// in on an edge in such steps and spins from 4 ms before it: a wake-up later than that carries it
// past the edge, which is then published late, however little the waiter itself spends.
std::vector<double> sortedWakeLateness(double seconds) {
  constexpr long stepNs = 1000000;
  TimerFdWait wait;
  std::vector<double> lateness;
  lateness.reserve(static_cast<std::size_t>(seconds * 1e9 / stepNs));
  const double end = monotonicNow() + seconds;
  while (monotonicNow() < end) {
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    advance(due, stepNs);
    wait.waitUntil(due);
    const double dueSeconds =
        static_cast<double>(due.tv_sec) + static_cast<double>(due.tv_nsec) * 1e-9;
    lateness.push_back((monotonicNow() - dueSeconds) * 1e9);
  }
  std::sort(lateness.begin(), lateness.end());
  return lateness;
}

void printWakeLateness(const std::vector<double>& lateness) {
  constexpr double waiterMarginNs = 4e6;
  const auto pastMargin =
      lateness.end() - std::upper_bound(lateness.begin(), lateness.end(), waiterMarginNs);
  std::printf(
      "1 ms timer waits on this machine: %zu, late p50 %.2f us, p99 %.2f us, max %.2f us; %td "
      "later than the waiter's 4 ms margin\n",
      lateness.size(), percentileUs(lateness, 0.5), percentileUs(lateness, 0.99),
      lateness.empty() ? NAN : lateness.back() * 1e-3, pastMargin);
}

void printPhases(const std::vector<Phase>& phases) {
  std::printf("%-24s %7s %12s %12s %12s %10s\n", "method", "edges", "p50 |err|", "p99 |err|",
              "max |err|", "CPU");
  for (const Phase& phase : phases) {
    const auto errors = sortedErrors(phase);
    if (!phase.hasEdges) {
      std::printf("%-24s %7s %12s %12s %12s %9.4f%%\n", phase.method.c_str(), "-", "-", "-", "-",
                  phase.cpu * 100);
      continue;
    }
    std::printf("%-24s %7zu %9.2f us %9.2f us %9.2f us %9.4f%%\n", phase.method.c_str(),
                errors.size(), percentileUs(errors, 0.5), percentileUs(errors, 0.99),
                errors.empty() ? NAN : errors.back() * 1e-3, phase.cpu * 100);
  }
}

// One line per target of the waiter; false when one is missed.
bool printVerdicts(const Phase& up, const Phase& lost, const Phase& busy, const Phase& lostFloor) {
  const double p99 = percentileUs(sortedErrors(up), 0.99);
  const double busyP99 = percentileUs(sortedErrors(busy), 0.99);
  const struct {
    std::string what;
    bool met;
  } targets[] = {
      {"waiter p99 |err| <= 10 us", p99 <= maxP99ErrorUs},
      {"waiter p99 |err| <= 3 x busy-poll p99 (" + std::to_string(busyP99 * 3) + " us)",
       p99 <= maxP99OverBusyPoll * busyP99},
      {"waiter CPU <= 0.6% of a core while PPS is up", up.cpu <= maxCpuUp},
      {"waiter CPU <= 0.01% of a core while PPS is lost", lost.cpu <= maxCpuLost},
  };
  bool all = true;
  for (const auto& target : targets) {
    std::printf("%-64s %s\n", target.what.c_str(), target.met ? "met" : "MISSED");
    all = all && target.met;
  }
  // Twice a second while lost: what the waiter spends per wake-up beyond the bare wait.
  std::printf("waiter while lost, per wake-up: %.1f us, of which the bare wait %.1f us\n",
              lost.cpu * 1e6 / 2, lostFloor.cpu * 1e6 / 2);
  return all;
}

void writeCsv(const std::string& file, const std::vector<Phase>& phases) {
  std::ofstream out(file);
  out << "method,edge_ns,true_edge_ns,error_ns,poll_ns\n";  // no method name holds a comma
  for (const Phase& phase : phases) {
    if (!phase.hasEdges) continue;  // the bare loops' edges are not the figures they stand for
    for (const PpsEdgeTimestamps& edge : phase.edges) {
      const auto trueEdge = static_cast<std::uint64_t>(
          std::llround(static_cast<double>(edge.edgeTimestamp) * 1e-9) * 1000000000LL);
      out << phase.method << ',' << edge.edgeTimestamp << ',' << trueEdge << ','
          << static_cast<std::int64_t>(edge.edgeTimestamp - trueEdge) << ',' << edge.pollTimestamp
          << '\n';
    }
  }
}

// N processes that keep a core each busy at the normal policy, as a build does, until the
// object goes.
class BusyLoad {
 public:
  explicit BusyLoad(int processes) {
    for (int i = 0; i < processes; ++i) {
      const pid_t child = fork();
      if (child < 0) throw std::runtime_error("cannot start a busy process");
      if (child == 0) {
        volatile std::uint64_t spins = 0;
        for (;;) spins = spins + 1;
      }
      children_.push_back(child);
    }
  }
  ~BusyLoad() {
    for (const pid_t child : children_) kill(child, SIGKILL);
    for (const pid_t child : children_) waitpid(child, nullptr, 0);
  }
  BusyLoad(const BusyLoad&) = delete;
  BusyLoad& operator=(const BusyLoad&) = delete;

 private:
  std::vector<pid_t> children_;
};

// Runs this thread, and so the waiter's event loop, at SCHED_FIFO `priority`, or at the normal
// policy for 0. Throws saying why when the policy cannot be had.
void schedulingIs(int priority) {
  sched_param param{};
  param.sched_priority = priority;
  if (sched_setscheduler(0, priority ? SCHED_FIFO : SCHED_OTHER, &param) != 0) {
    throw std::runtime_error("cannot run at SCHED_FIFO priority " + std::to_string(priority) +
                             ": " + std::strerror(errno) +
                             " (run as root, or raise RLIMIT_RTPRIO: ulimit -r)");
  }
}

// The waiter beside `processes` busy processes, at the normal policy and then at SCHED_FIFO.
std::vector<Phase> loadedPhases(WaiterRig& waiter, double seconds, int processes, int rtPriority) {
  const BusyLoad load(processes);
  std::vector<Phase> phases;
  const std::string beside = " + " + std::to_string(processes) + " busy";
  phases.push_back(waiter.phase("waiter" + beside, seconds, true));
  schedulingIs(rtPriority);
  phases.push_back(
      waiter.phase("waiter" + beside + ", FIFO " + std::to_string(rtPriority), seconds, true));
  schedulingIs(0);
  return phases;
}

// Under load at SCHED_FIFO, the waiter's p99 at most 3x the unloaded busy-poll p99 of this run.
bool printLoadVerdict(const Phase& fifo, const Phase& busy) {
  const double p99 = percentileUs(sortedErrors(fifo), 0.99);
  const double busyP99 = percentileUs(sortedErrors(busy), 0.99);
  const bool met = p99 <= maxP99OverBusyPoll * busyP99;
  std::printf("%-64s %s (%.2f us, %.2f x)\n",
              ("waiter p99 |err| under load at SCHED_FIFO <= 3 x busy-poll p99 (" +
               std::to_string(busyP99 * 3) + " us)")
                  .c_str(),
              met ? "met" : "MISSED", p99, p99 / busyP99);
  return met;
}

std::vector<ppsbench::PlottedMethod> plotted(const std::vector<Phase>& phases) {
  std::uint64_t start = UINT64_MAX;
  for (const Phase& phase : phases) {
    for (const auto& edge : phase.edges) start = std::min(start, edge.edgeTimestamp);
  }
  std::vector<ppsbench::PlottedMethod> methods;
  for (const Phase& phase : phases) {
    if (!phase.hasEdges || phase.edges.empty()) continue;
    auto& method = methods.emplace_back(ppsbench::PlottedMethod{phase.method, {}, {}});
    for (const auto& edge : phase.edges) {
      method.seconds.push_back(static_cast<double>(edge.edgeTimestamp - start) * 1e-9);
    }
    for (const double error : edgeErrors(phase)) method.errorsUs.push_back(error * 1e-3);
  }
  return methods;
}

struct Run {
  double seconds = 60;
  std::string csv, plot;
  int load = 0;         // busy processes beside the loaded phases; 0: no loaded phase
  int rtPriority = 20;  // the SCHED_FIFO priority of the loaded waiter
};

int run(const Run& options) {
  const double seconds = options.seconds;
  double load[1] = {NAN};
  getloadavg(load, 1);
  // A loaded machine preempts the waiter's spin around each edge unless it runs at a real-time
  // priority, as a deployment may give velaclockd (--rt-priority): say which this run had.
  const int policy = sched_getscheduler(0);
  std::printf(
      "pps_bench: %.0f s per method, %ld online CPUs, load average %.2f, %s\n", seconds,
      sysconf(_SC_NPROCESSORS_ONLN), load[0],
      policy == SCHED_FIFO || policy == SCHED_RR ? "real-time scheduling" : "ordinary scheduling");
  WaiterRig waiter;
  std::vector<Phase> phases;
  phases.push_back(waiter.phase("PPS waiter (pulse up)", seconds, true));
  phases.push_back(waiter.phase("PPS waiter (pulse lost)", seconds, false));
  phases.push_back(barePoller("busy-poll baseline", seconds, [] {}));
  phases.push_back(fixedPoll("fixed 1 ms poll", seconds, 1000000));
  // The floors of the waiter's CPU while lost: bare loops on its schedule, twice a second, one
  // sleeping, one waiting as the event loop waits.
  phases.push_back(fixedPoll("bare 2 Hz sleep", seconds, 500000000));
  phases.back().hasEdges = false;
  phases.push_back(timerFdPoll("bare 2 Hz timerfd wait", seconds, 500000000));
  phases.back().hasEdges = false;
  const auto lateness = sortedWakeLateness(seconds);
  if (options.load > 0) {
    for (Phase& phase : loadedPhases(waiter, seconds, options.load, options.rtPriority)) {
      phases.push_back(std::move(phase));
    }
  }
  printPhases(phases);
  printWakeLateness(lateness);
  if (!options.csv.empty()) writeCsv(options.csv, phases);
  bool met = printVerdicts(phases[0], phases[1], phases[2], phases[5]);
  if (options.load > 0) met = printLoadVerdict(phases.back(), phases[2]) && met;
  if (!options.plot.empty()) {
    ppsbench::plotEdges(plotted(phases),
                        "pps_bench: " + std::to_string(static_cast<int>(seconds)) +
                            " s per method, " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) +
                            " CPUs",
                        options.plot);
  }
  return met ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) try {
  CLI::App app{
      "pps_bench: the PPS waiter on real time against a busy-poll loop and a fixed 1 ms "
      "poll of the same simulated counter"};
  Run options;
  app.add_option("--seconds", options.seconds,
                 "how long each method runs (default 60; longer for a steadier p99)")
      ->check(CLI::Range(1.0, 86400.0));
  app.add_option("--csv", options.csv, "write one row per published edge to this file");
  app.add_option("--load", options.load,
                 "then run the waiter beside N busy processes, at the normal policy and at "
                 "SCHED_FIFO (one per core is the target's load)")
      ->check(CLI::Range(1, 256));
  app.add_option("--rt-priority", options.rtPriority,
                 "the SCHED_FIFO priority of the loaded waiter (default 20, as the service runs)")
      ->check(CLI::Range(1, 99));
  app.add_option("--plot", options.plot,
                 "draw each method's edge error over time and its distribution to this SVG file "
                 "(with gnuplot)");
  CLI11_PARSE(app, argc, argv);
  return run(options);
} catch (const std::exception& error) {
  std::fprintf(stderr, "pps_bench: %s\n", error.what());
  return 2;
}
