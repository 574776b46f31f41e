#pragma once

#include <cstddef>
#include <string>

#include "Kel/Activity.h"
#include "host/ControlServer.h"
#include "host/DescriptionSave.h"
#include "host/DescriptionText.h"

namespace velaclockd {

// Answers a save request: writes the state database as a platform description in the event loop's
// spare time, a slice at a time (see Kel::BackgroundWork), so that no wake-up and no other client
// waits for it, then replies {"ok":true,"description":TEXT}. A text that grows past what a
// description may be (maxDescriptionBytes) would not load back: the reply then refuses the save.
class SaveJob : public PendingReply, public Kel::BackgroundWork {
 public:
  // The most text one slice writes; on virtual time, where the clock stands still, it alone ends
  // a slice.
  static constexpr std::size_t sliceBytes = std::size_t{64} * 1024;

  // `connection` and the other arguments outlive the job: the connection owns it. A text longer
  // than `limit` is refused.
  SaveJob(Connection& connection, const Corral::EntityManager& database,
          const PlatformDescription& loaded, std::size_t limit = maxDescriptionBytes);
  ~SaveJob() override;
  SaveJob(const SaveJob&) = delete;
  SaveJob& operator=(const SaveJob&) = delete;

  bool slice(Kel::Seconds until) override;

 private:
  Connection& connection_;
  DescriptionWriter writer_;
  std::size_t limit_;
  std::string reply_;  // the reply line so far: its start and the text written, JSON-escaped
  std::size_t textBytes_ = 0;
};

}  // namespace velaclockd
