#pragma once

#include <string>
#include <vector>

#include "ctl/Client.h"

namespace velaclockctl {

// Subscribes to the changes of the entities at `paths` (all when empty) and prints one line per
// change as it comes, as JSON lines with `json`, until the daemon ends the stream. Returns the
// exit status.
int watchChanges(Client& client, const std::vector<std::string>& paths, bool json);

// One stream line as a person reads it:
//   <path>[ <collection>[<key>]...] <attribute> = <value>
//   <path>[ <collection>[<key>]...] <collection>[<key>] = <entry> | removed
//   (missed N changes; a fresh snapshot follows)
//   <path> snapshot <entity>
std::string describeEvent(const Json& event);

}  // namespace velaclockctl
