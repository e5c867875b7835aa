#pragma once

#include <sys/types.h>

#include <string>

#include "profiles/sid.h"

// The account the service runs under, as published in "NetAccount" and "NetAccountSystem".
namespace netsvc {

// The account of a Linux user id: root is the local system account (S-1-5-18), every other
// user S-1-22-1-<uid>.
ombrix::profiles::Sid AccountSid(uid_t uid);

// "domain\user" for a known account (the domain is this server's name), else the SID's text.
std::string AccountName(uid_t uid);

// Publishes both values for the calling process.
void PublishAccountValues();

// Gives `account` ("user", ".\user" or "SERVER\user") the right to run services: the account
// must exist; the right is recorded in the policy store of the registry. 0, or 1332 when no
// such account exists, or the registry's error.
int GrantServiceLogonRight(const std::string& account);

}  // namespace netsvc
