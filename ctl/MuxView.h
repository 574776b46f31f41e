#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ctl/Client.h"
#include "ctl/Reply.h"

namespace velaclockctl {

// The clock muxes as the daemon reports them now: their configuration and status (as `get`
// prints them) and the contents of the simulated mux control registers (as `regs` hex). It tells
// what each mux selects and which chain of muxes carries a sink.
class MuxView {
 public:
  // The muxes that carry a sink, farthest from the sink first, and the source that reaches the
  // sink through them ("-" when the chain ends nowhere).
  struct Chain {
    std::vector<std::string> muxes;
    std::string carries = "-";
    std::string text() const;  // "fpgaPpsMux>asicPpsMux", or "-"
  };

  MuxView(const Json& config, const Json& status, std::string registers);

  // The value of the mux's control register, when its access method is the simulated mux Ham's
  // and the register lies in the dump.
  std::optional<std::uint8_t> registerNow(const std::string& mux) const;
  // The source the mux selects now: the one whose select bits the register holds under the
  // mux's mask, or, when the register cannot be read here, the one its status names; "-" if none.
  std::string selects(const std::string& mux) const;
  // Follows the selections from the sink's mux (the first mux, in key order, that lists the sink)
  // down the muxes it selects, each once.
  Chain chain(const std::string& sink) const;
  // Each mux's configuration by name, in key order, as `get` prints it.
  const Json& muxes() const { return muxes_; }

 private:
  Json muxes_;
  Json status_;
  std::string registers_;
};

// The muxes as the daemon has them now: their configuration and status, and the simulated mux
// control registers (none when the daemon has no such bank).
MuxView fetchMuxView(Client& client);

}  // namespace velaclockctl
