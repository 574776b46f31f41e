#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "Kel/Clock.h"
#include "Kel/Entity.h"

namespace Kel {

// Settings of the process's event loop.
#define KEL_ACTIVITY_MANAGER_CONFIG(attribute, collection, reference) attribute(bool, useEpoll)
class ActivityManagerConfig : public Entity {
  KEL_ENTITY(Kel, ActivityManagerConfig, Entity, KEL_ACTIVITY_MANAGER_CONFIG)
};

// Waits for file descriptors to become ready: epoll, or poll(2) until epoll is asked for.
class Poller {
 public:
  struct Ready {
    int fd;
    std::uint32_t events;
  };
  virtual ~Poller() = default;
  virtual const char* name() const = 0;
  virtual void watch(int fd, std::uint32_t events) = 0;
  virtual void unwatch(int fd) = 0;
  // Replaces the contents of `ready` with the ready descriptors; blocks until one is ready when
  // `block`, else returns at once. The caller keeps `ready`, so waiting allocates nothing.
  virtual void wait(bool block, std::vector<Ready>& ready) = 0;
};

// Work that the event loop does in its spare time, a slice per turn
// (ActivityManager::backgroundIs): a long job that must not hold up the loop's wake-ups and
// descriptors.
class BackgroundWork {
 public:
  virtual ~BackgroundWork() = default;
  // Does the next part of the work, returning once the activity clock reaches `until` (checked as
  // often as the work can); returns whether any work remains.
  virtual bool slice(Seconds until) = 0;
};

// The single-threaded event loop. Each turn runs, one at a time and to completion: the tasks
// posted before the turn, the clock's due wake-ups, then the handlers of ready descriptors.
// Wake-ups reach it through a timerfd armed at the absolute CLOCK_MONOTONIC time of the next one.
// While work stays due turn after turn (a reactor that asks to be woken "now" again and again),
// descriptors are looked at once per descriptorCheckInterval rather than at every turn, so a
// spinning turn makes no system call. A turn with nothing posted allocates nothing.
class ActivityManager {
 public:
  using FdHandler = std::function<void(std::uint32_t events)>;  // events as in EPOLLIN etc.
  static constexpr Seconds descriptorCheckInterval = 1e-3;
  // Background work runs only on a turn with nothing else due and no wake-up due within
  // backgroundGap, and each slice is asked to end backgroundSlice later, so that every wake-up
  // (the PPS waiter's polls among them) still comes on time: the gap leaves room for a slice
  // whose last step runs late (copying a large register bank takes a few milliseconds).
  static constexpr Seconds backgroundGap = 5e-3;
  static constexpr Seconds backgroundSlice = 1e-3;

  ActivityManager(Ptr<Clock> clock, Ptr<ActivityManagerConfig> config);
  ~ActivityManager();
  ActivityManager(const ActivityManager&) = delete;
  ActivityManager& operator=(const ActivityManager&) = delete;

  void fdIs(int fd, std::uint32_t events, FdHandler handler);
  void fdDel(int fd);
  // Runs `task` on the next turn.
  void post(std::function<void()> task);
  // Runs `work` in the loop's spare time, a slice per turn (several works take turns), until a
  // slice says it is done or backgroundDel takes it out. The loop does not own it.
  void backgroundIs(BackgroundWork* work);
  void backgroundDel(BackgroundWork* work);

  // One turn. With `mayWait`, and nothing due, it sleeps until a descriptor is ready or the next
  // wake-up time of the clock.
  void turn(bool mayWait);
  // Turns until stop().
  void run();
  void stop() { stopped_ = true; }
  bool isStopped() const { return stopped_; }
  // True when a task is posted, a wake-up is due at `now`, or background work may run now.
  bool hasDueWork(Seconds now) const;
  const char* backend() const { return poller_->name(); }

 private:
  void followConfig();
  void armTimerFd(Seconds wakeUp);
  void runTasks();
  void serveDescriptors(bool block);
  bool hasForegroundWork(Seconds now) const;
  bool hasSpareTime(Seconds now) const;
  void runBackgroundSlice(Seconds now);

  Ptr<Clock> clock_;
  Ptr<ActivityManagerConfig> config_;
  std::unique_ptr<Poller> poller_;
  int timerFd_ = -1;
  // The time the timer descriptor is set to, or timerFdFired once it fired.
  static constexpr Seconds timerFdFired = std::numeric_limits<Seconds>::quiet_NaN();
  Seconds timerFdArmedAt_ = infiniteTime;
  std::map<int, std::pair<std::uint32_t, std::shared_ptr<FdHandler>>> fds_;
  // Posted tasks, and those of the running turn: swapped, not rebuilt, so each keeps its storage.
  std::vector<std::function<void()>> tasks_;
  std::vector<std::function<void()>> running_;
  std::vector<Poller::Ready> ready_;
  std::vector<BackgroundWork*> background_;
  std::size_t nextBackground_ = 0;
  Seconds lastDescriptorCheck_ = -infiniteTime;
  bool pollerIsEpoll_ = false;
  bool stopped_ = false;
};

namespace ActivityFacility {
// The process's activity clock.
Ptr<Clock> clock();
// The event loop's settings; `useEpollIs(true)` selects epoll.
Ptr<ActivityManagerConfig> activityManagerConfig();
// The process's event loop.
ActivityManager& manager();
}  // namespace ActivityFacility

}  // namespace Kel
