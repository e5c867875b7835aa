#pragma once

#include <string_view>

// Values a pool's shared settings file ("Oxtenv.dat") never sets in a server's global store: the
// ones the services publish themselves, and the ones that decide who is privileged or where the
// services look (paths, accounts, server name, port and addresses, logging). The language a
// pool picks is only ever one of the installation's own. A pool's
// file is written by whoever may write the pool's folder; these stay each server's own.
namespace netsvc {

bool isProtectedKey(std::string_view key);

}  // namespace netsvc
