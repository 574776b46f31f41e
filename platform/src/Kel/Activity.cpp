#include "Kel/Activity.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

namespace Kel {

namespace {

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

class EpollPoller final : public Poller {
 public:
  EpollPoller() : fd_(epoll_create1(EPOLL_CLOEXEC)) {
    if (fd_ < 0) throwErrno("epoll_create1");
  }
  ~EpollPoller() override { close(fd_); }
  const char* name() const override { return "epoll"; }
  void watch(int fd, std::uint32_t events) override {
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    if (epoll_ctl(fd_, EPOLL_CTL_ADD, fd, &ev) < 0 && errno == EEXIST) {
      epoll_ctl(fd_, EPOLL_CTL_MOD, fd, &ev);
    }
  }
  void unwatch(int fd) override { epoll_ctl(fd_, EPOLL_CTL_DEL, fd, nullptr); }
  void wait(bool block, std::vector<Ready>& ready) override {
    epoll_event events[32];
    const int n = epoll_wait(fd_, events, 32, block ? -1 : 0);
    ready.clear();
    for (int i = 0; i < n; ++i) ready.push_back({events[i].data.fd, events[i].events});
  }

 private:
  int fd_;
};

class PollPoller final : public Poller {
 public:
  const char* name() const override { return "poll"; }
  void watch(int fd, std::uint32_t events) override {
    unwatch(fd);
    fds_.push_back(pollfd{fd, static_cast<short>(events), 0});
  }
  void unwatch(int fd) override {
    std::erase_if(fds_, [fd](const pollfd& p) { return p.fd == fd; });
  }
  void wait(bool block, std::vector<Ready>& ready) override {
    ready.clear();
    if (poll(fds_.data(), fds_.size(), block ? -1 : 0) <= 0) return;
    for (const pollfd& p : fds_) {
      if (p.revents) ready.push_back({p.fd, static_cast<std::uint32_t>(p.revents)});
    }
  }

 private:
  std::vector<pollfd> fds_;
};

}  // namespace

ActivityManager::ActivityManager(Ptr<Clock> clock, Ptr<ActivityManagerConfig> config)
    : clock_(std::move(clock)),
      config_(std::move(config)),
      poller_(std::make_unique<PollPoller>()),
      timerFd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
  if (timerFd_ < 0) throwErrno("timerfd_create");
  poller_->watch(timerFd_, EPOLLIN);
}

ActivityManager::~ActivityManager() {
  close(timerFd_);
}

void ActivityManager::fdIs(int fd, std::uint32_t events, FdHandler handler) {
  fds_[fd] = {events, std::make_shared<FdHandler>(std::move(handler))};
  poller_->watch(fd, events);
}

void ActivityManager::fdDel(int fd) {
  if (fds_.erase(fd)) poller_->unwatch(fd);
}

void ActivityManager::post(std::function<void()> task) {
  tasks_.push_back(std::move(task));
}

void ActivityManager::backgroundIs(BackgroundWork* work) {
  if (std::find(background_.begin(), background_.end(), work) == background_.end()) {
    background_.push_back(work);
  }
}

void ActivityManager::backgroundDel(BackgroundWork* work) {
  std::erase(background_, work);
}

bool ActivityManager::hasDueWork(Seconds now) const {
  return hasForegroundWork(now) || hasSpareTime(now);
}

bool ActivityManager::hasForegroundWork(Seconds now) const {
  return !tasks_.empty() || clock_->hasDueWakeUp(now);
}

// Background work waits while anything else is due, or a wake-up soon will be.
bool ActivityManager::hasSpareTime(Seconds now) const {
  return !background_.empty() && !hasForegroundWork(now) &&
         clock_->nextWakeUp() - now >= backgroundGap;
}

void ActivityManager::runBackgroundSlice(Seconds now) {
  if (nextBackground_ >= background_.size()) nextBackground_ = 0;
  BackgroundWork* work = background_[nextBackground_];
  // Spare time means the next wake-up is backgroundGap away at least, so a slice that ends on time
  // leaves the loop time to come to it.
  if (work->slice(now + backgroundSlice)) {
    ++nextBackground_;
  } else {
    backgroundDel(work);  // the next one takes its place
  }
}

void ActivityManager::followConfig() {
  const bool epoll = config_->useEpoll();
  if (epoll == pollerIsEpoll_) return;
  std::unique_ptr<Poller> next;
  if (epoll) {
    next = std::make_unique<EpollPoller>();
  } else {
    next = std::make_unique<PollPoller>();
  }
  next->watch(timerFd_, EPOLLIN);
  for (const auto& [fd, watch] : fds_) next->watch(fd, watch.first);
  poller_ = std::move(next);
  pollerIsEpoll_ = epoll;
}

namespace {
constexpr Seconds latestTimerFdTime = 9e9;
}  // namespace

void ActivityManager::armTimerFd(Seconds wakeUp) {
  if (wakeUp == timerFdArmedAt_) return;  // never true once it fired: timerFdFired is NaN
  itimerspec setting{};
  if (wakeUp != infiniteTime) {
    // A zero it_value would disarm the timer; a time already past fires at once. The kernel holds
    // no time past about 292 years, and the bound keeps the conversion defined.
    const Seconds at = std::clamp(wakeUp, 1e-9, latestTimerFdTime);
    setting.it_value.tv_sec = static_cast<time_t>(at);
    // Rounded up, so that the timer never fires before the time asked, and without libm: one
    // library less for a wake-up to touch.
    const double nanoseconds = (at - static_cast<Seconds>(setting.it_value.tv_sec)) * 1e9;
    setting.it_value.tv_nsec = static_cast<long>(nanoseconds);
    if (static_cast<double>(setting.it_value.tv_nsec) < nanoseconds) ++setting.it_value.tv_nsec;
    if (setting.it_value.tv_nsec >= 1000000000L) {
      setting.it_value.tv_sec += 1;
      setting.it_value.tv_nsec -= 1000000000L;
    }
  }
  timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &setting, nullptr);
  timerFdArmedAt_ = wakeUp;
}

void ActivityManager::runTasks() {
  if (tasks_.empty()) return;
  running_.swap(tasks_);  // tasks posted from now on wait for the next turn
  for (auto& task : running_) task();
  running_.clear();
}

void ActivityManager::turn(bool mayWait) {
  followConfig();
  runTasks();
  clock_->wakeDue(System::currentTime());

  const Seconds now = System::currentTime();
  const bool due = hasForegroundWork(now);
  // Spinning: descriptors can wait a moment. (A clock that went back, as a test's new virtual
  // time may, does not hold them off.)
  if (due && now >= lastDescriptorCheck_ && now < lastDescriptorCheck_ + descriptorCheckInterval) {
    return;
  }
  lastDescriptorCheck_ = now;
  serveDescriptors(mayWait && !stopped_ && !due && !hasSpareTime(now));
  // A slice of background work, when the descriptors' handlers left the spare time there was.
  if (const Seconds later = System::currentTime(); hasSpareTime(later)) runBackgroundSlice(later);
}

void ActivityManager::serveDescriptors(bool block) {
  if (block) armTimerFd(clock_->nextWakeUp());
  poller_->wait(block, ready_);
  // By index: a handler may add or remove descriptors, never this list, which the next turn fills.
  for (std::size_t i = 0; i < ready_.size(); ++i) {
    const Poller::Ready ready = ready_[i];
    if (ready.fd == timerFd_) {
      // Not read: arming it again, which the next wait does whatever its time, clears the
      // expiration, and a wake-up costs one system call less.
      timerFdArmedAt_ = timerFdFired;
      continue;
    }
    const auto it = fds_.find(ready.fd);
    if (it == fds_.end()) continue;  // removed by an earlier handler of this turn
    const std::shared_ptr<FdHandler> handler = it->second.second;
    (*handler)(ready.events);
  }
}

void ActivityManager::run() {
  stopped_ = false;
  while (!stopped_) turn(true);
}

namespace ActivityFacility {

Ptr<Clock> clock() {
  static const Ptr<Clock> theClock = makePtr<Clock>();
  return theClock;
}

Ptr<ActivityManagerConfig> activityManagerConfig() {
  static const Ptr<ActivityManagerConfig> config = makePtr<ActivityManagerConfig>("activity");
  return config;
}

ActivityManager& manager() {
  static ActivityManager theManager(clock(), activityManagerConfig());
  return theManager;
}

}  // namespace ActivityFacility

}  // namespace Kel
