#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "Corral/MountStatus.h"
#include "Kel/String.h"

namespace Corral {

// How a client may use a mounted entity.
enum class Access : std::uint8_t {
  read,   // the client only reads it
  write,  // the client writes it
};

struct Mount {
  Kel::String path;
  Kel::String type;  // registered entity type the path must hold
  Access access;
  // The client rebuilds the entity's content whenever it starts (a status directory): a saved
  // copy of it would be stale, so it is saved empty.
  bool rebuilt = false;
};

// A mount profile: the paths a client mounts, read from "<profile dir>/<name>.yaml":
//   mounts:
//     - {path: hardware/clockmux/config/FixedSystem, type: Hardware::ClockMux::MuxConfigDir,
//        access: read}
//     - {path: hardware/clockmux/status/FixedSystem, type: Hardware::ClockMux::MuxStatusDir,
//        access: write, rebuilt: true}
struct MountProfile {
  Kel::String name;
  std::vector<Mount> mounts;
};

// The result of reading a profile: the profile, or a status other than mountSuccess_ with a
// message naming file, line and column and what was expected.
struct MountProfileResult {
  MountStatus status = mountSuccess_;
  std::string error;
  MountProfile profile;
};

std::filesystem::path mountProfilePath(const std::filesystem::path& directory,
                                       const Kel::String& name);
// Reads the profile `name` from its file in `directory` (mountProfileMissing_ when it cannot be
// read) and parses it.
MountProfileResult readMountProfile(const std::filesystem::path& directory,
                                    const Kel::String& name);
// Parses the text of the profile `name`; `file` names it in messages.
MountProfileResult parseMountProfile(const std::string& text, const std::string& file,
                                     const Kel::String& name);
// The text of `profile` in the form the parser reads, after `header` as comment lines.
std::string mountProfileText(const MountProfile& profile, const std::string& header);

}  // namespace Corral
