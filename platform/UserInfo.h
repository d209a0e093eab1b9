// Who runs the process and what the machine is called: the account database and the host's names.
#pragma once

#include <string>

namespace plat {

// The account name of the effective user; false when the account database has no entry for it.
bool GetUserAccountName(std::string& name);

// The effective user's full name: the first field of the account's comment, else the account name; false
// when the account database has no entry for the user.
bool GetUserFullName(std::string& name);

// The host's display name: the pretty name of the machine settings under root, else the network host
// name; false when neither is set.
bool GetHostDisplayName(const std::string& root, std::string& name);

}  // namespace plat
