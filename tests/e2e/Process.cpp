#include "e2e/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool eventually(const std::function<bool()>& condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

namespace {

int decodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Starts `argv` with the extra environment, stdout to `out` (a pipe end or file) and stderr to
// `err`.
pid_t spawn(const std::vector<std::string>& argv, const Environment& environment, int out,
            int err) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  for (const auto& [name, value] : environment) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

}  // namespace

ScratchDirectory::ScratchDirectory(const std::string& tag) {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("velaclock-" + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

CommandResult runCommand(const std::vector<std::string>& argv, const Environment& environment) {
  ScratchDirectory scratch("run");
  const auto outFile = scratch.path() / "out", errFile = scratch.path() / "err";
  const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  const pid_t pid = spawn(argv, environment, out, err);
  close(out);
  close(err);
  int status = 0;
  waitpid(pid, &status, 0);
  return {decodeStatus(status), readFile(outFile), readFile(errFile)};
}

Daemon::Daemon(std::vector<std::string> arguments, const Environment& environment)
    : scratch_("daemon") {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
  const int err =
      open((scratch_.path() / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  arguments.insert(arguments.begin(), VELACLOCKD);
  pid_ = spawn(arguments, environment, pipeFds[1], err);
  close(pipeFds[1]);
  close(err);
  // The first line says the daemon is ready; end of file says it stopped before that.
  std::string line;
  for (char c; read(pipeFds[0], &c, 1) == 1 && c != '\n';) line += c;
  ready_ = line.find(" ready, control socket ") != std::string::npos;
  close(pipeFds[0]);
}

Daemon::~Daemon() {
  if (pid_ > 0 && status_ < 0) stop();
}

void Daemon::signal(int signal) const {
  if (pid_ > 0 && status_ < 0) kill(pid_, signal);
}

int Daemon::stop() {
  if (status_ < 0 && pid_ > 0) kill(pid_, SIGTERM);
  return wait();
}

int Daemon::wait() {
  if (status_ < 0 && pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = decodeStatus(status);
  }
  return status_;
}

std::string Daemon::errors() const {
  return readFile(scratch_.path() / "err");
}

Background::Background(const std::vector<std::string>& argv, const Environment& environment) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
  pid_ = spawn(argv, environment, pipeFds[1], STDERR_FILENO);
  close(pipeFds[1]);
  out_ = pipeFds[0];
}

Background::~Background() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

std::string Background::nextLine() {
  for (;;) {
    if (const auto end = buffer_.find('\n'); end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      return line;
    }
    pollfd ready{out_, POLLIN, 0};
    char chunk[4096];
    if (poll(&ready, 1, 15000) != 1) return "";
    const ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return "";
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

namespace {
std::string uniqueInstanceName() {
  static std::atomic<int> counter{0};
  return "test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}
}  // namespace

Instance::Instance() : name_(uniqueInstanceName()), runtime_("runtime") {
  environment_["XDG_RUNTIME_DIR"] = runtime_.path().string();
  environment_["SIMULATION_VMID"] = std::nullopt;
  environment_["TRACE"] = std::nullopt;
  environment_["TRACEFILE"] = std::nullopt;
}

Instance::~Instance() {
  // The lock and the tables outlive their daemon by design; a test run must not leave them.
  const std::string prefix = sharedMemory("").filename().string();
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
    if (entry.path().filename().string().starts_with(prefix)) {
      std::filesystem::remove(entry.path(), ignored);
    }
  }
}

std::filesystem::path Instance::socket() const {
  return runtime() / "velaclock" / (name_ + ".sock");
}

std::filesystem::path Instance::sharedMemory(const std::string& suffix) const {
  return "/dev/shm/velaclock." + std::to_string(geteuid()) + "." + name_ + "." + suffix;
}

Environment Instance::environmentWith(const Environment& more) const {
  Environment all = environment_;
  for (const auto& [name, value] : more) all[name] = value;
  return all;
}

CommandResult Instance::ctl(std::vector<std::string> arguments) const {
  arguments.insert(arguments.begin(), {VELACLOCKCTL, "--instance", name_});
  return runCommand(arguments, environment_);
}

Daemon Instance::daemon(std::vector<std::string> arguments, const Environment& more) const {
  arguments.insert(arguments.begin(), {"--instance", name_});
  return Daemon(std::move(arguments), environmentWith(more));
}
