#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ctl/Client.h"
#include "ctl/Reply.h"

// Parts of the entities the daemon prints, taken so that a part of an unexpected shape reads as
// absent instead of failing: the tables show what is there and "-" for what is not.
namespace velaclockctl {

// The entity the daemon holds at `path`, or an empty object when it holds none there.
Json entityAt(Client& client, const std::string& path);

// The member `name` of `entity` when it is an object (a collection, an entry), else an empty one.
Json objectAt(const Json& entity, const std::string& name);
// The entry `key` of the collection `collection` of `entity`, or an empty object.
Json entry(const Json& entity, const char* collection, const std::string& key);
// The unsigned number `name` of `entity`, when it is one.
std::optional<std::uint64_t> unsignedAt(const Json& entity, const char* name);
// The string `name` of `entity`, when it is one.
std::optional<std::string> stringAt(const Json& entity, const char* name);

}  // namespace velaclockctl
