// The names the client customization is read and written under: the keys of the client customization file
// that the updater reads, and the attributes of the link file it writes for the relaunched client.
#pragma once

#include "containers/StBagKey.h"
#include "kernel/values/VBoolean.h"

namespace velk {

// Keys of the client customization file (a JSON object); all values are strings.
constexpr const char BABuildServerPlatform[] = "ServerPlatform";  // required, else the file is refused
constexpr const char BABuildInfoIPAdress[] = "BuildIPAdress";  // the server; no link file without it
constexpr const char BABuildInfoIPPort[] = "BuildIPPort";
constexpr const char BABuildInfoPublishName[] = "PublishName";
constexpr const char BABuildCacheFolderNameClient[] = "BuildCacheFolderNameClient";

// The link file's attributes, in the order they are written.
namespace StartupParametersBagKeys {

inline const StBagKeyNoDefault<bool, VBoolean> is_remote("is_remote");
inline const StBagKeyNoDefault<VString, VString> server_database_name("server_database_name");
inline const StBagKeyNoDefault<VString, VString> server_path("server_path");
inline const StBagKeyNoDefault<VString, VString> cache_folder_name("cache_folder_name");
inline const StBagKeyNoDefault<bool, VBoolean> remote_shared_resources("remote_shared_resources");

}  // namespace StartupParametersBagKeys

}  // namespace velk
