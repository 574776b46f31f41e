// velaclockctl's client and its command line in process, against stand-in daemons on real sockets.
#include <gtest/gtest.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ctl/Client.h"
#include "ctl/CommandLine.h"
#include "ctl/StandIn.h"

namespace {

namespace fs = std::filesystem;

const fs::path socketPath =
    fs::temp_directory_path() / ("velaclock-ctl-" + std::to_string(getpid()) + ".sock");

// velaclockctl ARGUMENTS...: its exit status and what it said on stderr; what it printed in `out`.
std::pair<int, std::string> ctl(std::vector<std::string> arguments, std::string* out = nullptr) {
  arguments.insert(arguments.begin(), "velaclockctl");
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  const int status = velaclockctl::runCommandLine(static_cast<int>(argv.size()) - 1, argv.data());
  const std::string printed = testing::internal::GetCapturedStdout();
  if (out) *out = printed;
  return {status, testing::internal::GetCapturedStderr()};
}

}  // namespace

// Sent away before its request was read, the client asks again; refused for a reason, it stops;
// hung up on, it says so rather than wait.
TEST(Client, ARequestTheDaemonWasTooBusyToTakeIsSentAgain) {
  std::string second;
  StandIn daemon(
      socketPath,
      {[](int fd) { StandIn::send(fd, "{\"ok\":false,\"error\":\"busy\",\"retry\":true}\n"); },
       [&](int fd) {
         second = StandIn::requestLine(fd);
         StandIn::send(fd, "{\"ok\":true,\"answer\":42}\n");
       },
       StandIn::replying("{\"ok\":false,\"error\":\"no such path\"}"),
       [](int fd) { StandIn::requestLine(fd); }});  // takes the request, hangs up unanswered
  velaclockctl::Client client(socketPath, 5.0);
  const auto reply = client.request({{"op", "get"}, {"path", "a/b"}});
  EXPECT_EQ(reply.member("answer", velaclockctl::Shape::unsignedNumber), 42);
  EXPECT_EQ(second, R"({"op":"get","path":"a/b"})");
  EXPECT_THROW(velaclockctl::Client(socketPath, 5.0).request({{"op", "get"}, {"path", "x"}}),
               velaclockctl::Refused);
  try {
    velaclockctl::Client(socketPath, 5.0).request({{"op", "get"}, {"path", "y"}});
    ADD_FAILURE() << "a daemon that hung up was taken for an answer";
  } catch (const velaclockctl::NoDaemon& error) {
    EXPECT_NE(std::string(error.what()).find("hung up without answering"), std::string::npos);
  }
}

// A reply of the wrong shape, or none, ends in a clear "no valid answer" (exit 3), never a crash.
TEST(CommandLine, RepliesOfTheWrongShapeOrNoneEndInAClearNoValidAnswer) {
  const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases{
      {{"get", "p"}, R"({"ok":true})", "to `get`: expected `entity` to be an object"},
      {{"set", "p", "a=1"}, R"({"ok":true,"entity":5})", "expected `entity` to be an object"},
      {{"paths"}, R"([1])", "expected the reply to be an object"},
      {{"paths"}, R"({"ok":"yes"})", "expected `ok` to be true or false"},
      {{"paths"}, R"({"ok":false,"error":7})", "expected `error` to be a string"},
      {{"paths"}, R"({"ok":true,"paths":[{"path":1}]})", "expected `path` of each of `paths`"},
      {{"paths"}, R"({"ok":true,"paths":[3]})", "expected each of `paths` to be an object"},
      {{"trace", "x"}, R"({"ok":true,"filter":null})", "expected `filter` to be a string"},
      {{"regs", "h"}, R"({"ok":true,"ham":"h","registers":"00"})", "expected `size`"},
      {{"regs", "h"}, R"({"ok":true,"ham":"h","size":1})", "expected `registers`"},
      {{"show", "muxes"}, R"({"ok":true,"entity":{}})", "to `regs`: expected `registers`"},
      {{"paths"}, "not json", "answered `paths` with something that is not JSON"},
      {{"--timeout", "0.2", "paths"}, "", "did not answer within 0.2 s"},
  };
  for (const auto& [arguments, reply, message] : cases) {
    const StandIn daemon(socketPath, {StandIn::replying(reply)});
    std::vector<std::string> command{"--socket", socketPath.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto [status, errors] = ctl(command);
    EXPECT_EQ(status, velaclockctl::exitNoDaemon) << reply << ": " << errors;
    EXPECT_NE(errors.find(message), std::string::npos) << errors;
  }
}

// What cannot be sent is a usage error (exit 2), found before any daemon is asked.
TEST(CommandLine, CommandLinesItCannotSendAreUsageErrors) {
  const std::string muxes = "hardware/clockmux/config/FixedSystem";
  const auto [status, errors] = ctl({"frobnicate"});
  EXPECT_EQ(status, velaclockctl::exitUsage);
  EXPECT_NE(errors.find("unknown command `frobnicate`: expected show, get, set"), std::string::npos)
      << errors;
  EXPECT_NE(ctl({"get", "caf\xe9"}).second.find("is not valid UTF-8"), std::string::npos);
  for (const std::vector<std::string>& usage :
       {std::vector<std::string>{"--socket", "", "paths"},
        {"--timeout", "nan", "paths"},
        {"--instance", "..", "pps"},
        {"--instance", "a/b", "pps"},
        {"set", muxes},
        {"set", muxes, "muxConfig"},
        {"set", muxes, "muxConfig", "fpgaPpsMux", "bitMask"},
        {"set", muxes, "bitMask=1", "--type", "Hardware::ClockMux::Sink"},
        {"show", "clocks"},
        {"del", muxes, "muxConfig"},
        {"sim", "pps", "explode"}}) {
    EXPECT_EQ(ctl(usage).first, velaclockctl::exitUsage) << usage[0] << " " << usage[1];
  }
}

// A socket path too long for an address reaches no daemon, never the one at the path cut short.
TEST(Client, ASocketPathTooLongForAnAddressIsNotCutShort) {
  const std::string longest =
      socketPath.string() +
      std::string(sizeof(sockaddr_un::sun_path) - 1 - socketPath.string().size(), 'x');
  const StandIn daemon(longest, {StandIn::replying(R"({"ok":true,"answer":1})")});
  EXPECT_THROW(velaclockctl::Client(longest + "x", 5.0), velaclockctl::NoDaemon);
  velaclockctl::Client whole(longest, 5.0);
  EXPECT_EQ(whole.request({{"op", "get"}}).member("answer", velaclockctl::Shape::unsignedNumber),
            1);
}

// `watch` asks for the paths named and prints each change on a line, or as it came with --json,
// until velaclockd ends the watch (a refusal) or hangs up (no daemon).
TEST(CommandLine, WatchPrintsEachChangeUntilTheStreamEnds) {
  using Json = nlohmann::json;
  const std::vector<std::string> events{
      R"({"event":"snapshot","path":"a/b","entity":{"n":1}})",
      R"({"event":"change","path":"a/b","within":[{"collection":"sink","key":"s1"}],)"
      R"("attribute":"sourceName","value":"gps1"})",
      R"({"event":"change","path":"a/b","collection":"sink","key":"s2","entry":null})",
      R"({"event":"overflow","missed":7})"};
  std::string stream = "{\"ok\":true,\"watching\":[]}\n";
  for (const std::string& event : events) stream += event + "\n";
  std::vector<std::string> requests;
  const auto streaming = [&](const std::string& last) -> StandIn::Answer {
    return [&requests, text = stream + last](int fd) {
      requests.push_back(StandIn::requestLine(fd));
      StandIn::send(fd, text);
    };
  };
  const StandIn daemon(socketPath,
                       {streaming("{\"event\":\"end\",\"reason\":\"outgrown\"}\n"), streaming("")});
  std::string out;
  const auto [ended, why] = ctl({"--socket", socketPath.string(), "watch", "a/b", "c"}, &out);
  EXPECT_EQ(ended, velaclockctl::exitRefused);
  EXPECT_NE(why.find("velaclockd ended the watch: outgrown"), std::string::npos) << why;
  EXPECT_EQ(out,
            "a/b snapshot {\"n\":1}\na/b sink[s1] sourceName = gps1\na/b sink[s2] removed\n"
            "(missed 7 changes; a fresh snapshot follows)\n");
  EXPECT_EQ(ctl({"--socket", socketPath.string(), "watch", "--json"}, &out).first,
            velaclockctl::exitNoDaemon);
  std::istringstream lines(out);
  for (std::string line; const std::string& event : events) {
    EXPECT_TRUE(std::getline(lines, line) && Json::parse(line) == Json::parse(event)) << out;
  }
  EXPECT_EQ(requests, (std::vector<std::string>{R"({"op":"watch","paths":["a/b","c"]})",
                                                R"({"op":"watch","paths":[]})"}));
}
