#include "host/SaveJob.h"

#include <fmt/format.h>

namespace velaclockd {

namespace {
// `text` as the inside of a JSON string: the reply is made a part at a time, so the description
// is never held twice nor escaped in one go.
std::string escaped(const std::string& text) {
  const std::string quoted =
      nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return quoted.substr(1, quoted.size() - 2);
}
}  // namespace

SaveJob::SaveJob(Connection& connection, const Corral::EntityManager& database,
                 const PlatformDescription& loaded, std::size_t limit)
    : connection_(connection),
      writer_(database, loaded),
      limit_(limit),
      reply_(R"({"ok":true,"description":")") {
  // Room for the text as its escapes make it grow: growing by copying megabytes in one slice
  // would hold up the loop. Untouched room costs no memory.
  reply_.reserve(limit + limit / 4);
  Kel::ActivityFacility::manager().backgroundIs(this);
}

SaveJob::~SaveJob() {
  Kel::ActivityFacility::manager().backgroundDel(this);
}

bool SaveJob::slice(Kel::Seconds until) {
  std::string part;
  const bool more = writer_.write(
      part, [&] { return part.size() < sliceBytes && Kel::System::currentTime() < until; });
  textBytes_ += part.size();
  if (textBytes_ > limit_) {
    connection_.replyIs(replyText(errorReply(
        fmt::format("the state database takes more than the {} bytes a platform description may "
                    "have, so velaclockd would not load it back; nothing saved",
                    limit_))));
    return false;
  }
  reply_ += escaped(part);
  if (more) return true;
  reply_ += "\"}\n";
  connection_.replyIs(std::move(reply_));
  return false;
}

}  // namespace velaclockd
