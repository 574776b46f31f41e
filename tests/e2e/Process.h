#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Runs velaclockd and velaclockctl as a user would. Each test Instance has an instance name of its
// own, the daemon's identity with the user, so locks and shared memory of parallel tests stay
// apart, and a runtime directory (XDG_RUNTIME_DIR) of its own for sockets and register files.

struct CommandResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// A scratch directory removed with the object.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& tag);
  ~ScratchDirectory();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Variables to set (or, when nullopt, to remove) for a program started by a test.
using Environment = std::map<std::string, std::optional<std::string>>;

// The whole content of a file; empty if it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Asks `condition` every 50 ms until it holds; false if it never did within `seconds`. The daemon
// runs on real time: a test waits for what it expects with a generous deadline and asserts on what
// the daemon says, never on how long it took.
bool eventually(const std::function<bool()>& condition, double seconds = 30);

// Runs a program to its end with the test's environment changed by `environment`.
CommandResult runCommand(const std::vector<std::string>& argv, const Environment& environment);

// A velaclockd started in the background; the constructor returns once it says it is ready (or
// has exited).
class Daemon {
 public:
  Daemon(std::vector<std::string> arguments, const Environment& environment);
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  bool ready() const { return ready_; }
  // Sends `signal` and goes on.
  void signal(int signal) const;
  // SIGTERM, then the exit status.
  int stop();
  // Waits for an exit that is coming anyway (a refused start); returns the exit status.
  int wait();
  // What it wrote to stderr (traces included) so far.
  std::string errors() const;

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  bool ready_ = false;
  ScratchDirectory scratch_;
};

// A program left running in the background, its standard output read line by line; killed with
// the object.
class Background {
 public:
  Background(const std::vector<std::string>& argv, const Environment& environment);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  // The next line it prints, or "" when none comes within a generous while.
  std::string nextLine();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

// The test's instance: a unique name, a runtime directory and the environment that points
// programs at it. Shared-memory objects of the instance go with it.
class Instance {
 public:
  Instance();
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  const std::string& name() const { return name_; }
  const Environment& environment() const { return environment_; }
  Environment environmentWith(const Environment& more) const;
  const std::filesystem::path& runtime() const { return runtime_.path(); }
  // The daemon's control socket at its default place.
  std::filesystem::path socket() const;
  // Where the shared-memory object `suffix` (a table's path with '/' as '.', or "lock") of this
  // instance lives.
  std::filesystem::path sharedMemory(const std::string& suffix) const;

  // velaclockctl --instance NAME ARGS...
  CommandResult ctl(std::vector<std::string> arguments) const;
  // velaclockd --instance NAME ARGS... in the background.
  Daemon daemon(std::vector<std::string> arguments = {}, const Environment& more = {}) const;

 private:
  std::string name_;
  ScratchDirectory runtime_;
  Environment environment_;
};
