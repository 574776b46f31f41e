#pragma once

#include <cstdint>
#include <ostream>

namespace Corral {

// The outcome of a mount group, handed to the mounter's doMountsComplete.
enum MountStatus : std::uint8_t {
  mountSuccess_,           // every profile was read and its paths are mounted
  mountProfileMissing_,    // a profile file does not exist or cannot be read
  mountProfileMalformed_,  // a profile file is not a valid profile
};

std::ostream& operator<<(std::ostream& out, MountStatus status);

}  // namespace Corral
