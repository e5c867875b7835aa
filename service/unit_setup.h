#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "service/request_table.h"

// The device map: position n is '1' when device n is a unit; setting a position pads the text
// with '0' up to it.
class CBoolString {
  public:
    void Set(int position);
    bool Get(int position) const;
    void Clear() { m_text.clear(); }
    const std::string& Text() const { return m_text; }

  private:
    std::string m_text;
};

// The units of the miniport on `port`: every device number 0 to 2047 is opened through a
// temporary DOS name "OMX_%d" and asked for its SCSI address; those on the port become units
// (the first is the empty device). Logged-on users get read and write access to each device
// looked at. Returns the number of units found.
int FindUnits(int port, ServiceRequests& units, CBoolString& deviceMap);

// Volume names of the units, then no unit keeps a global drive letter.
void PrepareMountPoints(ServiceRequests& units);

// Read and write access for logged-on users (group and others) on a device file: its control
// socket and, for a mount point, listing. 0 or a Win32-style code.
int GrantInteractiveAccess(const std::filesystem::path& deviceFile);

// The link step of a session's drive-letter link: the link `name` in the session's DosDevices
// folder, and the folder, are made the session user's own, so that the session's programs can
// change and remove it. An account unknown to this machine keeps the links as they are.
// 87 for a missing or over-long name, 6 when there is no such link, else 0 or a Win32 code.
int OpenSessionLink(std::string_view name, uint32_t session);
