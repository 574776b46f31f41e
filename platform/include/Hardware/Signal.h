#pragma once

#include <vector>

#include "Kel/Entity.h"

// The directory shapes shared by the strobe (time pulse) and frequency signal families. Each
// family declares its own source entries, then these macros declare, in its namespace:
//   SourceConfigDir    { sourceConfig: SourceConfig }     what the platform says exists
//   SourceCliConfigDir { cliConfig:    SourceCliConfig }  what the user wants
//   SourceStatusDir    { sourceStatus: SourceStatus }     what is in force
//   SinkConfig { defaultSourceName }, SinkCliConfig { sourceName }, SinkStatus { sourceName }
//   SinkConfigDir { sinkConfig }, SinkCliConfigDir { cliConfig }, SinkStatusDir { sinkStatus }
// and the bundles SourceTypes and SinkTypes, which name a family's source or sink types at once and
// reach their collections under the same names for sources and sinks.

#define HARDWARE_SOURCE_CONFIG_DIR(attribute, collection, reference) \
  collection(SourceConfig, sourceConfig)
#define HARDWARE_SOURCE_CLI_CONFIG_DIR(attribute, collection, reference) \
  collection(SourceCliConfig, cliConfig)
#define HARDWARE_SOURCE_STATUS_DIR(attribute, collection, reference) \
  collection(SourceStatus, sourceStatus)

#define HARDWARE_SIGNAL_SOURCE_DIRS(Namespace)                                                  \
  KEL_ENTITY_CLASS(Namespace, SourceConfigDir, Kel::Entity, HARDWARE_SOURCE_CONFIG_DIR);        \
  KEL_ENTITY_CLASS(Namespace, SourceCliConfigDir, Kel::Entity, HARDWARE_SOURCE_CLI_CONFIG_DIR); \
  KEL_ENTITY_CLASS(Namespace, SourceStatusDir, Kel::Entity, HARDWARE_SOURCE_STATUS_DIR);        \
  HARDWARE_SIGNAL_TYPE_BUNDLE(SourceTypes, Source, source)

#define HARDWARE_SINK_CONFIG(attribute, collection, reference) \
  attribute(Kel::String, defaultSourceName)
#define HARDWARE_SINK_SOURCE_NAME(attribute, collection, reference) \
  attribute(Kel::String, sourceName)
#define HARDWARE_SINK_CONFIG_DIR(attribute, collection, reference) \
  collection(SinkConfig, sinkConfig)
#define HARDWARE_SINK_CLI_CONFIG_DIR(attribute, collection, reference) \
  collection(SinkCliConfig, cliConfig)
#define HARDWARE_SINK_STATUS_DIR(attribute, collection, reference) \
  collection(SinkStatus, sinkStatus)

#define HARDWARE_SIGNAL_SINK_TYPES(Namespace)                                               \
  KEL_ENTITY_CLASS(Namespace, SinkConfig, Kel::Entity, HARDWARE_SINK_CONFIG);               \
  KEL_ENTITY_CLASS(Namespace, SinkCliConfig, Kel::Entity, HARDWARE_SINK_SOURCE_NAME);       \
  KEL_ENTITY_CLASS(Namespace, SinkStatus, Kel::Entity, HARDWARE_SINK_SOURCE_NAME);          \
  KEL_ENTITY_CLASS(Namespace, SinkConfigDir, Kel::Entity, HARDWARE_SINK_CONFIG_DIR);        \
  KEL_ENTITY_CLASS(Namespace, SinkCliConfigDir, Kel::Entity, HARDWARE_SINK_CLI_CONFIG_DIR); \
  KEL_ENTITY_CLASS(Namespace, SinkStatusDir, Kel::Entity, HARDWARE_SINK_STATUS_DIR);        \
  HARDWARE_SIGNAL_TYPE_BUNDLE(SinkTypes, Sink, sink)

// The entry and directory types of a family's sources or sinks, and their collections (the
// config, status and cliConfig entries of a name), under one name.
#define HARDWARE_SIGNAL_TYPE_BUNDLE(Bundle, Kind, kind)                                           \
  struct Bundle {                                                                                 \
    using Config = Kind##Config;                                                                  \
    using CliConfig = Kind##CliConfig;                                                            \
    using Status = Kind##Status;                                                                  \
    using ConfigDir = Kind##ConfigDir;                                                            \
    using CliConfigDir = Kind##CliConfigDir;                                                      \
    using StatusDir = Kind##StatusDir;                                                            \
    static constexpr ::Kel::AttributeId configCollection = ConfigDir::kind##ConfigId;             \
    static constexpr ::Kel::AttributeId cliConfigCollection = CliConfigDir::cliConfigId;          \
    static ::Kel::Ptr<const Config> config(const ConfigDir& d, const ::Kel::String& n) {          \
      return d.kind##Config(n);                                                                   \
    }                                                                                             \
    static std::vector<::Kel::String> configKeys(const ConfigDir& d) {                            \
      return d.kind##Config().keys();                                                             \
    }                                                                                             \
    static ::Kel::Ptr<Status> status(StatusDir& d, const ::Kel::String& n) {                      \
      return d.kind##Status(n);                                                                   \
    }                                                                                             \
    static ::Kel::Ptr<Status> statusIs(StatusDir& d, const ::Kel::String& n) {                    \
      return d.kind##StatusIs(n);                                                                 \
    }                                                                                             \
    static void statusDel(StatusDir& d, const ::Kel::String& n) { d.kind##StatusDel(n); }         \
    static ::Kel::Ptr<const CliConfig> cliConfig(const CliConfigDir& d, const ::Kel::String& n) { \
      return d.cliConfig(n);                                                                      \
    }                                                                                             \
    static std::vector<::Kel::String> cliConfigKeys(const CliConfigDir& d) {                      \
      return d.cliConfig().keys();                                                                \
    }                                                                                             \
    static void cliConfigDel(CliConfigDir& d, const ::Kel::String& n) { d.cliConfigDel(n); }      \
  }

// The types of one family, for module registration.
#define HARDWARE_SIGNAL_TYPES                                                                  \
  SourceConfig, SourceCliConfig, SourceStatus, SourceConfigDir, SourceCliConfigDir,            \
      SourceStatusDir, SinkConfig, SinkCliConfig, SinkStatus, SinkConfigDir, SinkCliConfigDir, \
      SinkStatusDir
