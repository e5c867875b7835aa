#pragma once

#include <lmdb.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace ombrix::env {

// One configuration store: an LMDB environment in its own folder of the machine root. Keys are
// stored upper-cased (so lookups ignore case); each record keeps the key as first written in
// front of the value ("Key\0value"), so listings show the caller's spelling.
//
// LMDB allows one open environment per file and process, so stores are shared per folder
// through `open`. Reads take no lock; writes are one transaction each.
class EnvStore {
  public:
    // The store in `folder`, opened once per process; null when it cannot be opened. A store
    // this process may not write (another account's) opens read-only: its sets fail.
    static EnvStore* open(const std::filesystem::path& folder);

    EnvStore(const EnvStore&) = delete;
    EnvStore& operator=(const EnvStore&) = delete;
    ~EnvStore();

    std::optional<std::string> get(std::string_view key);
    // Copies the value of `key` into `buffer` (cut, terminated); false when the key is missing.
    bool getInto(std::string_view key, char* buffer, int size);
    bool set(std::string_view key, std::string_view value);
    bool remove(std::string_view key);
    // Visits every value in key order; stops when `visit` returns false. Returns the count.
    int forEach(const std::function<bool(std::string_view key, std::string_view value)>& visit);

    // Binary blob beside the values (the rights data).
    bool setBlob(std::string_view name, std::string_view bytes);
    std::optional<std::string> getBlob(std::string_view name);

  private:
    EnvStore() = default;
    bool openAt(const std::filesystem::path& folder);
    // Runs `read` inside a read transaction reused by the calling thread.
    template <typename Read>
    bool withReadTxn(Read read);
    bool write(MDB_dbi dbi, std::string_view key, const std::string* value);

    MDB_env* env_ = nullptr;
    MDB_dbi values_ = 0;
    MDB_dbi blobs_ = 0;
    uint64_t id_ = 0;
    int pid_ = 0;
    bool readOnly_ = false;  // another account's store: read-only, outside its lock table
};

// The global store of the machine and the session store of the calling process's session.
EnvStore* globalStore();
EnvStore* sessionStore();

}  // namespace ombrix::env
