#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace velaclockctl {

// A local file cannot be written as asked; nothing of it was changed.
class LocalFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where writeFileAtomically would write for `path`: `path` itself when it is a regular file or
// absent (in a directory that exists), the regular file a symbolic link leads to. Throws
// LocalFileError for anything else (a directory, a device, a link to nothing), so that a command
// can refuse before it asks the daemon for anything.
std::filesystem::path fileDestination(const std::filesystem::path& path);

// Writes `text` to `path` whole or not at all: into a temporary file of its own beside the
// destination (fileDestination), then renamed over it, so that a reader (or a collector) never
// sees half a file and two writers never share a temporary file. A file replaced keeps its
// permissions. Throws LocalFileError saying why.
void writeFileAtomically(const std::filesystem::path& path, const std::string& text);

}  // namespace velaclockctl
