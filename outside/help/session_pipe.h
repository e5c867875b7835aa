#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pipes/mountrequest.h"

// The session pipe "OMX_TS_SESSION<sid>" of the helper program: requests of the management
// service and the administration program into one session.
namespace ombrix::helper {

class SessionPipeHandler {
  public:
    // `showMessage` shows an administrator's text to the user without blocking the pipe.
    SessionPipeHandler(uint32_t session, std::function<void(const std::string&)> showMessage);

    // Handles one record in place: the reply.
    void handle(CMountRequest& record);

  private:
    void insert(CMountRequest& record);
    void eject(CMountRequest& record);
    void listDrives(CMountRequest& record);
    void describeDrive(CMountRequest& record);
    void setDrives(CMountRequest& record);
    void fail(CMountRequest& record, int code);

    uint32_t session_;
    std::function<void(const std::string&)> showMessage_;
};

}  // namespace ombrix::helper
