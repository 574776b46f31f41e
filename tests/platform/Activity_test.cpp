#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <poll.h>

#include <cmath>
#include <filesystem>

#include "Kel/Activity.h"
#include "Kel/VirtualTime.h"

using Kel::makePtr;
using Kel::Ptr;
using Kel::Seconds;

namespace {

// A clock reactor that records the times it was woken and may re-arm itself.
class Alarm : public Kel::Clock::NotifieeConst {
 public:
  explicit Alarm(std::vector<Seconds>* log = nullptr) : log_(log) {
    hasNotificationActiveIs(true);
    notifierIs(Kel::ActivityFacility::clock());
  }
  void onAttribute(Kel::AttributeId id, const void* value) override {
    EXPECT_EQ(id, Kel::Clock::nowId);
    woken.push_back(*static_cast<const Seconds*>(value));
    if (log_) log_->push_back(tag);
    if (rearmIn >= 0 && --rearms >= 0) timeMinIs(Kel::System::currentTime() + rearmIn);
    if (action) action();
  }
  std::vector<Seconds> woken;
  Seconds rearmIn = -1;
  int rearms = 0;
  double tag = 0;
  std::function<void()> action;

 private:
  std::vector<Seconds>* log_;
};

// The process's timer descriptors that would wake a wait now.
int readyTimerFds() {
  int ready = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) != "anon_inode:[timerfd]") continue;
    pollfd p{std::stoi(entry.path().filename()), POLLIN, 0};
    ready += poll(&p, 1, 0) == 1 ? 1 : 0;
  }
  return ready;
}

}  // namespace

// On real time: the loop leaves a fired timer descriptor unread and relies on arming it again to
// clear it. The next wait, with nothing armed, must not be woken by that old expiration, or the
// loop would spin.
TEST(Activity, AFiredTimerNeverWakesTheNextWait) {
  auto& manager = Kel::ActivityFacility::manager();
  Kel::ActivityFacility::activityManagerConfig()->useEpollIs(true);
  auto alarm = makePtr<Alarm>();
  alarm->action = [&manager] { manager.post([] {}); };  // keeps the waking turn from waiting
  alarm->timeMinIs(Kel::System::currentTime() + 1e-3);
  while (alarm->woken.empty()) manager.turn(true);
  manager.turn(false);            // sees the fired timer
  EXPECT_EQ(readyTimerFds(), 1);  // and leaves it unread

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  bool served = false;
  manager.fdIs(fds[0], EPOLLIN, [&](std::uint32_t) {
    char c;
    served = read(fds[0], &c, 1) == 1;
  });
  ASSERT_EQ(write(fds[1], "a", 1), 1);
  manager.turn(true);  // nothing armed: the wait disarms the timer, then serves the pipe
  EXPECT_TRUE(served);
  EXPECT_EQ(readyTimerFds(), 0);

  // A wake-up later than the kernel can hold is armed as late as it can, not as garbage.
  alarm->timeMinIs(1e300);
  served = false;
  ASSERT_EQ(write(fds[1], "b", 1), 1);
  manager.turn(true);
  EXPECT_TRUE(served);
  EXPECT_TRUE(alarm->woken.size() == 1U && readyTimerFds() == 0);
  alarm->timeMinIs(Kel::infiniteTime);
  manager.fdDel(fds[0]);
  close(fds[0]);
  close(fds[1]);
  Kel::ActivityFacility::activityManagerConfig()->useEpollIs(false);
}

TEST(Activity, WakeUpsOnVirtualTime) {
  Kel::VirtualTime time;
  const Seconds start = time.now();
  auto later = makePtr<Alarm>();
  auto never = makePtr<Alarm>();
  auto now = makePtr<Alarm>();
  later->timeMinIs(start + 1.5);
  never->timeMinIs(Kel::infiniteTime);
  now->timeMinIs(start);

  EXPECT_TRUE(now->woken.empty());  // arming never calls back at once
  time.settle();
  EXPECT_EQ(now->woken, std::vector<Seconds>{start});
  EXPECT_TRUE(later->woken.empty());

  time.runUntil(start + 1.4999);
  EXPECT_TRUE(later->woken.empty());
  time.runUntil(start + 10);
  EXPECT_EQ(later->woken, std::vector<Seconds>{start + 1.5});  // once, at its own time
  EXPECT_TRUE(never->woken.empty());
  EXPECT_EQ(time.now(), start + 10);
  EXPECT_FALSE(time.advanceToNextWakeUp());
}

TEST(Activity, HandlersReArmAndTheRearmedWaitForTheNextTurn) {
  Kel::VirtualTime time;
  const Seconds start = time.now();
  auto ticker = makePtr<Alarm>();
  ticker->rearmIn = 0.25;
  ticker->rearms = 3;
  ticker->timeMinIs(start + 0.25);
  time.runFor(5);
  EXPECT_EQ(ticker->woken,
            (std::vector<Seconds>{start + 0.25, start + 0.5, start + 0.75, start + 1.0}));

  // Re-arming for "now" from the handler wakes on the following turn, not in the same one.
  auto spinner = makePtr<Alarm>();
  spinner->rearmIn = 0;
  spinner->rearms = 2;
  spinner->timeMinIs(time.now());
  Kel::ActivityFacility::manager().turn(false);
  EXPECT_EQ(spinner->woken.size(), 1u);
  Kel::ActivityFacility::manager().turn(false);
  EXPECT_EQ(spinner->woken.size(), 2u);
  time.settle();
  EXPECT_EQ(spinner->woken.size(), 3u);
}

TEST(Activity, WakeUpsComeInTimeThenArmingOrderAndSkipTheSilenced) {
  Kel::VirtualTime time;
  const Seconds t = time.now() + 1;
  std::vector<Seconds> log;
  auto b = makePtr<Alarm>(&log);
  auto a = makePtr<Alarm>(&log);
  auto c = makePtr<Alarm>(&log);
  auto early = makePtr<Alarm>(&log);
  auto zombie = makePtr<Alarm>(&log);
  auto freed = makePtr<Alarm>(&log);
  b->tag = 2, a->tag = 1, c->tag = 3, early->tag = 0, zombie->tag = 9, freed->tag = 8;
  b->timeMinIs(t);
  a->timeMinIs(t + 1);
  c->timeMinIs(t);
  early->timeMinIs(t - 0.5);
  zombie->timeMinIs(t);
  zombie->kelDoZombieReactors(true);
  freed->timeMinIs(t);
  b->action = [&] { freed.reset(); };  // freed before its turn: never called, never touched
  time.runFor(5);
  EXPECT_EQ(log, (std::vector<Seconds>{0, 2, 3, 1}));

  a->timeMinIs(time.now() + 1);
  a->timeMinIs(Kel::infiniteTime);  // a new request replaces the earlier one
  time.runFor(5);
  EXPECT_EQ(a->woken.size(), 1u);
}

TEST(Activity, PostedTasksDescriptorsAndTheEpollSwitch) {
  Kel::VirtualTime time;
  auto& manager = Kel::ActivityFacility::manager();
  std::vector<int> ran;
  manager.post([&] {
    ran.push_back(1);
    manager.post([&] { ran.push_back(2); });  // posted meanwhile: next turn
  });
  manager.turn(false);
  EXPECT_EQ(ran, std::vector<int>{1});
  manager.turn(false);
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));

  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  std::string got;
  int served = 0;
  manager.fdIs(fds[0], EPOLLIN, [&](std::uint32_t) {
    ++served;
    char c;
    if (read(fds[0], &c, 1) == 1) got += c;
  });
  EXPECT_STREQ(manager.backend(), "poll");
  ASSERT_EQ(write(fds[1], "a", 1), 1);
  manager.turn(false);
  manager.turn(false);  // nothing more to read: the handler is not called again
  EXPECT_EQ(served, 1);
  Kel::ActivityFacility::activityManagerConfig()->useEpollIs(true);
  ASSERT_EQ(write(fds[1], "b", 1), 1);
  manager.turn(false);
  EXPECT_STREQ(manager.backend(), "epoll");  // the watched descriptor moved along
  EXPECT_EQ(got, "ab");
  manager.fdDel(fds[0]);
  ASSERT_EQ(write(fds[1], "c", 1), 1);
  manager.turn(false);
  EXPECT_EQ(got, "ab");
  close(fds[0]);
  close(fds[1]);
}

TEST(Activity, VirtualTimeStepsAndFreezesTheWallClock) {
  Kel::VirtualTime time(50.0, 1000.25);
  EXPECT_EQ(Kel::System::currentTime(), 50.0);
  EXPECT_EQ(Kel::System::currentTimeUtc(), 1000.25);
  time.runFor(1);
  EXPECT_EQ(Kel::System::currentTimeUtc(), 1001.25);
  time.source().utcStepBy(-0.25);
  EXPECT_EQ(Kel::System::currentTimeUtc(), 1001.0);
  EXPECT_EQ(Kel::System::currentTime(), 51.0);
  time.source().utcFrozenIs(true);
  time.runFor(1);
  EXPECT_EQ(Kel::System::currentTimeUtc(), 1001.0);
  EXPECT_EQ(Kel::System::currentTime(), 52.0);

  // A handler that always asks to run again "now" is reported rather than spinning forever.
  auto spinner = makePtr<Alarm>();
  spinner->rearmIn = 0;
  spinner->rearms = 1 << 30;
  spinner->timeMinIs(time.now());
  EXPECT_THROW(time.settle(), std::runtime_error);
  spinner->timeMinIs(Kel::infiniteTime);
}

TEST(Activity, WhileWorkStaysDueDescriptorsAreServedOnceAMillisecond) {
  Kel::VirtualTime time;
  auto& manager = Kel::ActivityFacility::manager();
  auto spinner = makePtr<Alarm>();  // asks to run again on the next turn, all the time
  spinner->rearmIn = 0;
  spinner->rearms = 1 << 20;
  spinner->timeMinIs(time.now());
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  bool served = false;
  manager.fdIs(fds[0], EPOLLIN, [&](std::uint32_t) {
    char c;
    served = read(fds[0], &c, 1) == 1;
  });
  manager.turn(false);  // looks at the descriptors: nothing yet
  ASSERT_EQ(write(fds[1], "a", 1), 1);
  int turns = 0;
  while (!served && turns < 100) {
    time.source().advanceBy(1e-4);  // each turn takes a tenth of a millisecond
    manager.turn(false);
    ++turns;
  }
  EXPECT_TRUE(served);
  EXPECT_GE(turns, 9);  // not at every turn: a spinning turn makes no system call
  EXPECT_LE(turns, 11);
  manager.fdDel(fds[0]);
  close(fds[0]);
  close(fds[1]);
  spinner->timeMinIs(Kel::infiniteTime);
}

// Background work takes the loop's spare time only: no slice while a wake-up is due within
// backgroundGap, a slice a turn otherwise, each told to end backgroundSlice later, until the work
// says it is done.
TEST(Activity, BackgroundWorkRunsOnlyInSpareTime) {
  Kel::VirtualTime time;
  auto& loop = Kel::ActivityFacility::manager();
  struct Work : Kel::BackgroundWork {
    bool slice(Seconds until) override {
      untils.push_back(until);
      return untils.size() < 3;
    }
    std::vector<Seconds> untils;
  } work;
  const Seconds t0 = time.now();
  const auto alarm = makePtr<Alarm>();
  alarm->timeMinIs(t0 + 0.5 * Kel::ActivityManager::backgroundGap);
  loop.backgroundIs(&work);
  loop.turn(false);
  EXPECT_TRUE(work.untils.empty());
  time.runUntil(alarm->timeMin());
  EXPECT_EQ(alarm->woken.size(), 1U);
  const Seconds t1 = time.now();
  EXPECT_EQ(work.untils, std::vector<Seconds>(3, t1 + Kel::ActivityManager::backgroundSlice));
  EXPECT_FALSE(loop.hasDueWork(t1));
}
