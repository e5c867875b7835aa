#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "pipes/mountrequest.h"

// The shared files of the pool as this server publishes them into the global store: the network
// catalogue, the tree file, the profile file, the server list, the administration file and the
// shared settings file. Each reader clears what it published last, reads the file and publishes
// it anew; the catalogue reader also works out what changed and queues the notices for the
// management service.
//
// A file that cannot be opened (held by another program, unreadable) keeps what was published
// from it before; a file that opens but holds nothing usable is published as empty. A failure is
// logged once per change of the file, not at every retry.
//
// The readers may be called from several threads; they run one at a time.
class CSharedFiles {
  public:
    enum File { kCatalogue, kTree, kProfile, kServerList, kAdmin, kSettings, kFileCount };

    // More changed entries than this are announced as one reload.
    static constexpr size_t kMaxListedChanges = 50;
    // Catalogue key numbers from here on are shared entries; smaller file numbers are shifted.
    static constexpr long kSharedBase = 5000;
    // Key numbers above this are not published: programs walk the catalogue up to the highest.
    static constexpr long kMaxKeyNumber = 999999;
    static constexpr int kLockGlobalMs = 2000;

    // A file's last-write time as the change check compares it.
    struct WriteTime {
        timespec time{};
        friend bool operator==(const WriteTime& a, const WriteTime& b) {
            return a.time.tv_sec == b.time.tv_sec && a.time.tv_nsec == b.time.tv_nsec;
        }
    };

    using Push = std::function<void(const CMountRequest&)>;

    // `push` queues a record for the management service.
    explicit CSharedFiles(Push push);

    // The file names and the global keys naming their folders.
    static const char* FileName(File file);
    static const char* FolderKey(File file);
    // Folder value + file name; nullopt when the folder key is missing or empty.
    static std::optional<std::string> PathOf(File file);
    // The write time of `path`; nullopt when the file cannot be found.
    static std::optional<WriteTime> WriteTimeOf(const std::string& path);
    // The write time of an open file: taken before its contents are read, so a change made
    // after the read is noticed by the next check.
    static std::optional<WriteTime> WriteTimeOf(int fd);

    // The time recorded when the file was last opened (or read) for publishing.
    std::optional<WriteTime> StoredTime(File file) const;

    // Request 35: re-read the network catalogue and queue 40/41/42/43. False on failure, which
    // also queues 40 (once per change of the file).
    bool ReadImagesFile();
    // Request 36. The caller queues 44.
    bool ReadTreeFile();
    // Request 37.
    bool ReadSecurity();
    // Request 38 with the sub-code 46: clear the published server values.
    void ClearServerValues();
    // Request 38 otherwise (the caller queues 31 and publishes "ServerChange").
    bool ReadServerFile();
    // Request 39. The caller queues 45.
    bool ReadAdminFile();
    // Request 51.
    bool ReadEnvFile();
    // Request 49: this server's port in the server list. False on failure.
    bool SetServerPort(uint32_t port);
    // Request 52: remove this server's section from a server list on a share.
    bool RemoveServer();

    // Creates the settings file and the server list with their default contents, and an empty
    // catalogue or tree file, when they are missing; the profile file with its two defaults.
    static int CreateDefaultSettingsFile(const std::string& path);
    static int CreateDefaultServerList(const std::string& path);
    static int CreateEmptyFile(const std::string& path);
    // The profile file is created with two default profiles named as given (the texts of the
    // service's string table; by default the built-in names).
    int CreateDefaultProfileFile(const std::string& path) const;
    void SetProfileNames(std::string administrators, std::string users);

    // Catalogue key as read ("OMXIMAGE_12") → published key number (5012); nullopt when the key
    // has another form or a number outside 0..kMaxKeyNumber.
    static std::optional<long> PublishedNumber(std::string_view key);

    // Logs a failure at level 3 unless the same text was logged for the file since the file
    // last changed or was last read successfully; true when it was logged.
    bool ReportFailure(File file, const std::string& text);

  private:
    using Values = std::map<long, std::string>;

    bool readImagesLocked(bool& pathChanged, Values& before, Values& after);
    void queueCatalogueChanges(bool pathChanged, const Values& before, const Values& after);
    void storeTime(File file, std::optional<WriteTime> time);
    bool fail(File file, const std::string& text) { return ReportFailure(file, text); }
    void succeeded(File file);

    Push push_;
    std::string adminProfile_;
    std::string userProfile_;
    mutable std::recursive_mutex lock_;
    std::string cataloguePath_;
    std::array<std::optional<WriteTime>, kFileCount> times_;
    struct Reported {
        std::optional<WriteTime> time;
        std::set<std::string> texts;
    };
    std::array<std::optional<Reported>, kFileCount> reported_;
};
