#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locked_file.h"
#include "profiles/archive.h"
#include "profiles/secdescriptor.h"
#include "profiles/sid.h"

// A profile: what its members may do and which images their virtual drives receive.
//
// Record in the file: name (text), rights (32-bit), drive image count (16-bit; from 0xFFFF on,
// 0xFFFF and the 32-bit count), that many pairs of drive letter and image path (texts), then
// the descriptor (32-bit length and bytes).
class CProfile {
  public:
    // Rights bits.
    static constexpr uint32_t kCentralAdminClient = 1;  // bound by the central administration mode
    static constexpr uint32_t kAdministrator = 2;
    static constexpr uint32_t kInsertEject = 4;
    static constexpr uint32_t kEditDrives = 8;

    std::string name;
    uint32_t rights = 0;
    std::map<std::string, std::string> driveImages;  // "E" → image path; empty drives have no key
    CSecDescriptor security;

    // Reading clears the drive map first; a pair read twice keeps the later path.
    bool Read(ombrix::profiles::ArchiveReader& in);
    bool Write(ombrix::profiles::ArchiveWriter& out) const;
};

// All profiles of a server pool, in file order: the header text, a 32-bit count and the
// profile records. Results are 0 on success, a Win32-style file error code, or -1 for a wrong
// header, a truncated or malformed file, or data too large to write.
class CProfileList {
  public:
    static constexpr std::string_view kHeader = "NRV Profiles Ver 1.0";
    static constexpr std::string_view kFileName = "oxtprof.dat";
    static constexpr std::string_view kAdministratorsProfile =
        "Internal profile for administrators";
    static constexpr std::string_view kUsersProfile = "Internal profile for users";

    std::vector<CProfile>& Profiles() { return profiles_; }
    const std::vector<CProfile>& Profiles() const { return profiles_; }
    const CProfile* Find(std::string_view name) const;

    // The two profiles of a new file: administrators with rights 14, everyone with rights 5.
    void SetDefaults();

    // Any failure leaves the list empty. Bytes after the last profile are not looked at.
    int Load(std::string_view bytes);
    // Replaces `out`.
    int Save(std::string& out) const;

    // On a file opened by the caller: Load reads it whole; Save writes from the start and cuts
    // the file after the last byte written.
    int Load(const ombrix::platform::LockedFile& file);
    int Save(const ombrix::platform::LockedFile& file) const;

    // Open `path`, retrying while another process holds it, read or write it, and close it.
    int LoadFile(const std::string& path);
    int SaveFile(const std::string& path) const;

    // The rights bits of a user known by `sids`: the bits of every profile that includes one of
    // them and excludes none, added up.
    uint32_t RightsFor(const std::vector<ombrix::profiles::Sid>& sids) const;

  private:
    std::vector<CProfile> profiles_;
};

// Writes the two default profiles into `path` when the file is missing or empty; a file with
// content is left as it is (another server may have written it meanwhile). Non-empty names
// replace the built-in names of the administrators' and the users' profile. 0 or an error code
// as above.
int CreateDefaultProfileFile(const std::string& path, const std::string& administrators = {},
                             const std::string& users = {});
