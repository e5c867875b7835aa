#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "admin/admin_model.h"

// Server pools: a pool is a folder holding the pool definition file "OXTServ.dat", one section
// per server (with its "OmxServerPort") and the section "_OXT_SERVER_POOL_NAME_SECTION_" with
// "Pool_Name". Setting a pool's members changes the file and points each server at the folder
// (or back at its own), undoing the file change when a server does not answer.
namespace ombrix::admin {

inline constexpr const char* kPoolFile = "OXTServ.dat";
inline constexpr const char* kPoolSection = "_OXT_SERVER_POOL_NAME_SECTION_";

// Why a folder cannot be a pool's, or nothing. A pool's folder is an absolute path as the
// system names it (no links, no "." or ".." in it) or one on a network file system; `creating`
// refuses a folder that has a pool file already, opening one that has none.
std::optional<std::string> poolFolderProblem(const std::string& folder, bool creating);

// One row of a pool's dialog: a server, its port and whether it is (to be) in the pool.
struct PoolRow {
    std::string server;  // upper case
    int port = 0;
    bool checked = false;
    bool inFile = false;

    friend bool operator==(const PoolRow&, const PoolRow&) = default;
};

// The pool's servers as checked rows, then every known server not listed yet as unchecked
// rows (names compared ignoring case). Nothing, with `error` set, when the file cannot be read.
std::optional<std::vector<PoolRow>> readPool(const std::string& folder,
                                             const std::vector<ServerEntry>& known,
                                             std::string& error);
std::string poolName(const std::string& folder);
// Creates the pool file when missing and sets its name; false when it cannot be written.
bool setPoolName(const std::string& folder, const std::string& name);
// Deletes the pool's file when it lists no server; else, or when it cannot, `message` says why.
bool deletePool(const std::string& folder, std::string& message);

class PoolSetter {
  public:
    struct Ports {
        // Points a server at `folder` (or with `own` back at its own folder): 0, or a failure
        // with `reason` set (empty when the server did not answer).
        std::function<int(const std::string& server, int port, const std::string& folder, bool own,
                          std::string& reason)>
            setSharedPath;
        // The folder of the pool a server belongs to now: "" for none; nothing when it cannot
        // be told.
        std::function<std::optional<std::string>(const std::string& server)> poolOf;
        // The shared settings file to copy into a new pool's folder ("Oxtenv.dat"), or "".
        std::function<std::string()> settingsFile;
        std::function<void(const std::string& text)> tell;
        std::function<bool(const std::string& question)> ask;
    };

    explicit PoolSetter(Ports ports) : ports_(std::move(ports)) {}

    // Applies the rows' check marks to the pool in `folder`; the rows then say what the file
    // holds. True when every change went through.
    bool apply(const std::string& folder, std::vector<PoolRow>& rows);

  private:
    bool removeServer(const std::string& folder, PoolRow& row);
    bool addServer(const std::string& folder, PoolRow& row);

    Ports ports_;
};

}  // namespace ombrix::admin
