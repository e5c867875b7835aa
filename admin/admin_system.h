#pragma once

#include "admin/admin_channels.h"

// The administration program's channels as this system gives them: the client library for the
// own session, the sessions' pipes of this server, TCP records to the other servers.
namespace ombrix::admin {

AdminChannels::Ports systemChannelPorts();

}  // namespace ombrix::admin
