#include "Corral/MountProfile.h"

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include <fstream>
#include <set>
#include <sstream>

#include "Kel/TypeInfo.h"

namespace Corral {

std::ostream& operator<<(std::ostream& out, MountStatus status) {
  switch (status) {
    case mountSuccess_:
      return out << "mountSuccess";
    case mountProfileMissing_:
      return out << "mountProfileMissing";
    case mountProfileMalformed_:
      return out << "mountProfileMalformed";
  }
  return out << "mountStatus(" << static_cast<unsigned>(status) << ")";
}

std::filesystem::path mountProfilePath(const std::filesystem::path& directory,
                                       const Kel::String& name) {
  return directory / (name + ".yaml");
}

namespace {

struct ProfileError {
  std::string message;
};

[[noreturn]] void fail(const std::string& file, const YAML::Mark& mark, const std::string& what) {
  throw ProfileError{fmt::format("{}:{}:{}: {}", file, mark.line + 1, mark.column + 1, what)};
}

std::string scalar(const std::string& file, const YAML::Node& map, const char* key,
                   const char* expected) {
  const YAML::Node value = map[key];
  if (!value || !value.IsScalar() || value.Scalar().empty()) {
    fail(file, value ? value.Mark() : map.Mark(), fmt::format("expected `{}`: {}", key, expected));
  }
  return value.Scalar();
}

Mount readMount(const std::string& file, const YAML::Node& node) {
  if (!node.IsMap()) fail(file, node.Mark(), "expected a mount {path, type, access, rebuilt}");
  for (const auto& item : node) {
    const auto key = item.first.as<std::string>("");
    if (key != "path" && key != "type" && key != "access" && key != "rebuilt") {
      fail(file, item.first.Mark(),
           "unknown key `" + key + "`: expected path, type, access or rebuilt");
    }
  }
  Mount mount;
  mount.path = scalar(file, node, "path", "a state-database path");
  mount.type = scalar(file, node, "type", "a registered entity type");
  if (!Kel::typeInfo(mount.type)) {
    fail(file, node["type"].Mark(), "unknown entity type `" + mount.type + "`");
  }
  const std::string access = scalar(file, node, "access", "read or write");
  if (access == "read") {
    mount.access = Access::read;
  } else if (access == "write") {
    mount.access = Access::write;
  } else {
    fail(file, node["access"].Mark(), "expected `access`: read or write, not `" + access + "`");
  }
  if (node["rebuilt"]) {
    const std::string rebuilt = scalar(file, node, "rebuilt", "true or false");
    if (rebuilt != "true" && rebuilt != "false") {
      fail(file, node["rebuilt"].Mark(),
           "expected `rebuilt`: true or false, not `" + rebuilt + "`");
    }
    mount.rebuilt = rebuilt == "true";
  }
  return mount;
}

}  // namespace

MountProfileResult parseMountProfile(const std::string& text, const std::string& file,
                                     const Kel::String& name) {
  MountProfileResult result;
  result.profile.name = name;
  try {
    const YAML::Node root = YAML::Load(text);
    if (!root.IsMap() || !root["mounts"] || !root["mounts"].IsSequence()) {
      fail(file, root.Mark(), "expected a map with a `mounts` list");
    }
    std::set<Kel::String> paths;
    for (const YAML::Node& node : root["mounts"]) {
      Mount mount = readMount(file, node);
      if (!paths.insert(mount.path).second) {
        fail(file, node.Mark(), "path `" + mount.path + "` is mounted twice");
      }
      result.profile.mounts.push_back(std::move(mount));
    }
  } catch (const ProfileError& error) {
    result.status = mountProfileMalformed_;
    result.error = error.message;
  } catch (const YAML::Exception& error) {
    result.status = mountProfileMalformed_;
    result.error =
        fmt::format("{}:{}:{}: {}", file, error.mark.line + 1, error.mark.column + 1, error.msg);
  }
  return result;
}

std::string mountProfileText(const MountProfile& profile, const std::string& header) {
  YAML::Emitter out;
  std::istringstream lines(header);
  for (std::string line; std::getline(lines, line);) out << YAML::Comment(line) << YAML::Newline;
  out << YAML::BeginMap << YAML::Key << "mounts" << YAML::Value << YAML::BeginSeq;
  for (const Mount& mount : profile.mounts) {
    out << YAML::Flow << YAML::BeginMap;
    out << YAML::Key << "path" << YAML::Value << mount.path;
    out << YAML::Key << "type" << YAML::Value << mount.type;
    out << YAML::Key << "access" << YAML::Value
        << (mount.access == Access::read ? "read" : "write");
    if (mount.rebuilt) out << YAML::Key << "rebuilt" << YAML::Value << true;
    out << YAML::EndMap;
  }
  out << YAML::EndSeq << YAML::EndMap;
  return std::string(out.c_str()) + "\n";
}

MountProfileResult readMountProfile(const std::filesystem::path& directory,
                                    const Kel::String& name) {
  const std::string file = mountProfilePath(directory, name).string();
  std::ifstream in(file);
  if (!in) {
    MountProfileResult result;
    result.profile.name = name;
    result.status = mountProfileMissing_;
    result.error = file + ": mount profile `" + name + "` cannot be read";
    return result;
  }
  // An empty file gives empty text (and a failed insertion): malformed, not missing.
  std::ostringstream text;
  text << in.rdbuf();
  return parseMountProfile(text.str(), file, name);
}

}  // namespace Corral
