#pragma once

#include <cstdint>
#include <optional>

#include "platform/account.h"

// Who owns what in the machine root. Root's processes write the machine's state; each logged-on
// session has folders of its own that only its account (and root) can change, so no account can
// take another session's names, pipe, store or drive letters.
namespace ombrix::platform {

// Creates the machine root's folders with their owners and modes, and takes away write rights
// that others than root gained on them. Only a process running as root changes anything. 0 or
// the first Win32-style error.
int prepareMachineRoot();

// The folders of session `session`, owned by `account` (root's when there is none): its drive
// letters, message bus, pipe folder, configuration store and named objects. The session folder
// itself stays root's, so the files that say who the session belongs to cannot be changed by it.
// A session's folders left over from an earlier session of the same id go first.
int createSessionObjects(uint32_t session, const std::optional<Account>& account);
// Removes the session's own folders and everything in them.
void removeSessionObjects(uint32_t session);

// The registry file of the account's own settings is created for it, so nobody else can put one
// in its place first.
int prepareUserHive(const Account& account);

}  // namespace ombrix::platform
