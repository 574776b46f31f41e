// One control request line, handled as velaclockd's server handles it: parsed, checked to be an
// object, answered by ControlService over the state database of the embedded default system, and
// the reply rendered. The reply is rendered strictly, so text that is not UTF-8 in a reply (which
// the daemon could not send as JSON) is a crash here.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "Kel/Trace.h"
#include "host/ControlServer.h"
#include "host/ControlService.h"
#include "host/DefaultPlatform.h"
#include "host/PlatformDescription.h"
#include "velaclock/ControlProtocol.h"

namespace {

// The default system, installed once, with its register files in a directory of their own.
class DefaultSystem {
 public:
  DefaultSystem() {
    Kel::traceSinkIs([](std::string_view) {});  // requests may turn every trace level on
    const auto description = velaclockd::parsePlatformDescription(
        velaclockd::defaultPlatformDescription, velaclockd::defaultPlatformName, nullptr);
    velaclockd::install(description, *database_, registers_);
  }
  ~DefaultSystem() { std::filesystem::remove_all(registers_); }
  DefaultSystem(const DefaultSystem&) = delete;
  DefaultSystem& operator=(const DefaultSystem&) = delete;

  nlohmann::ordered_json handle(const nlohmann::json& request) { return service_.handle(request); }

 private:
  static std::filesystem::path temporaryDirectory() {
    std::string name = (std::filesystem::temp_directory_path() / "velaclock-fuzz-XXXXXX").string();
    if (!mkdtemp(name.data())) std::abort();
    return name;
  }

  std::filesystem::path registers_ = temporaryDirectory();
  Kel::Ptr<Corral::EntityManager> database_ = Kel::makePtr<Corral::EntityManager>("fuzz", "");
  velaclockd::ControlService service_{database_};
};

nlohmann::ordered_json answer(std::string_view line) {
  static DefaultSystem system;
  const nlohmann::json request = nlohmann::json::parse(line, nullptr, false);
  if (request.is_discarded() || !request.is_object()) {
    return velaclockd::errorReply("request is not a JSON object on one line");
  }
  try {
    return system.handle(request);
  } catch (const std::exception& error) {
    return velaclockd::errorReply(error.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  // The server cuts requests at newlines and refuses longer ones unread.
  if (size > velaclock::maxRequestBytes || line.find('\n') != std::string_view::npos) return 0;
  static_cast<void>(answer(line).dump());
  return 0;
}
