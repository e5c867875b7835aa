#include "env_store.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

#include "platform/ascii.h"
#include "platform/machine_root.h"
#include "platform/session_id.h"

namespace ombrix::env {
namespace {

constexpr size_t kMapSize = size_t{1} << 30;  // address space only; the file grows as needed
constexpr unsigned kMaxReaders = 4096;        // many processes of many sessions read at once
constexpr int kReadAttempts = 200;            // reads of somebody else's store, while it changes

std::atomic<uint64_t> nextStoreId{1};

MDB_val toVal(std::string_view s) {
    return MDB_val{s.size(), const_cast<char*>(s.data())};
}

std::string_view fromVal(const MDB_val& v) {
    return std::string_view(static_cast<const char*>(v.mv_data), v.mv_size);
}

// A stored record: the key as written, a zero byte, the value.
std::string_view recordValue(std::string_view record) {
    size_t cut = record.find('\0');
    return cut == std::string_view::npos ? record : record.substr(cut + 1);
}

std::string_view recordKey(std::string_view record) {
    return record.substr(0, record.find('\0'));
}

// A read transaction kept by one thread for one store and renewed for each read, which costs far
// less than beginning a new one. Aborted when the thread ends.
struct ThreadReaders {
    std::map<uint64_t, MDB_txn*> txns;
    ~ThreadReaders() {
        for (auto& [id, txn] : txns)
            mdb_txn_abort(txn);
    }
};
thread_local ThreadReaders threadReaders;

}  // namespace

// The open stores of the process. Never destroyed: threads still running while the process
// exits go on finding their stores (see ~EnvStore).
struct OpenStores {
    std::mutex guard;
    std::map<std::string, std::unique_ptr<EnvStore>> stores;
};

OpenStores& openStores() {
    alignas(OpenStores) static unsigned char storage[sizeof(OpenStores)];
    static OpenStores* stores = ::new (storage) OpenStores();
    return *stores;
}

EnvStore* EnvStore::open(const std::filesystem::path& folder) {
    std::mutex& guard = openStores().guard;
    auto& stores = openStores().stores;
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(folder, ec);
    std::string name = (ec ? folder : canonical).string();

    std::lock_guard<std::mutex> lock(guard);
    auto it = stores.find(name);
    if (it != stores.end()) {
        if (it->second->pid_ == ::getpid()) return it->second.get();
        // Inherited through fork: an environment belongs to the process that opened it, so the
        // child opens its own and leaves the parent's handle alone (closing it here would
        // disturb the parent's lock table entries).
        (void)it->second.release();
        stores.erase(it);
    }
    std::unique_ptr<EnvStore> store(new EnvStore());
    if (!store->openAt(name)) return nullptr;
    return stores.emplace(name, std::move(store)).first->second.get();
}

bool EnvStore::openAt(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    // Root never opens a store another account could have put links into.
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (::geteuid() == 0 && st.st_uid != 0) return false;
    if (mdb_env_create(&env_) != 0) return false;
    mdb_env_set_mapsize(env_, kMapSize);
    mdb_env_set_maxreaders(env_, kMaxReaders);
    mdb_env_set_maxdbs(env_, 4);
    // The stores are rebuilt from the registry and the shared files whenever the services start,
    // so a commit need not wait for the disk; a crashed process still loses nothing. The owner's
    // files are its own: others may read the values (where the folder lets them) but never the
    // lock file, whose locks and reader table a writer relies on.
    int rc = mdb_env_open(env_, folder.c_str(), MDB_NOTLS | MDB_NOSYNC, 0644);
    if (rc == EACCES || rc == EPERM || rc == EROFS) {
        // Somebody else's store: read without taking part in its locking (see withReadTxn).
        mdb_env_close(env_);
        if (mdb_env_create(&env_) != 0) return false;
        mdb_env_set_maxdbs(env_, 4);
        rc = mdb_env_open(env_, folder.c_str(), MDB_NOTLS | MDB_RDONLY | MDB_NOLOCK, 0644);
        readOnly_ = rc == 0;
    }
    if (rc != 0) {
        mdb_env_close(env_);
        env_ = nullptr;
        return false;
    }
    if (!readOnly_) ::chmod((folder / "lock.mdb").c_str(), 0600);
    int dead = 0;
    if (!readOnly_) mdb_reader_check(env_, &dead);  // slots of readers that died

    MDB_txn* txn = nullptr;
    const unsigned dbFlags = readOnly_ ? 0 : MDB_CREATE;
    if (mdb_txn_begin(env_, nullptr, readOnly_ ? MDB_RDONLY : 0, &txn) != 0) return false;
    if (mdb_dbi_open(txn, "values", dbFlags, &values_) != 0 ||
        mdb_dbi_open(txn, "blobs", dbFlags, &blobs_) != 0) {
        mdb_txn_abort(txn);
        return false;
    }
    if (mdb_txn_commit(txn) != 0) return false;
    id_ = nextStoreId++;
    pid_ = ::getpid();
    return true;
}

EnvStore::~EnvStore() {
    if (env_ != nullptr) mdb_env_close(env_);
}

// A reader of somebody else's store has no reader slot, so the writer may reuse the pages of a
// snapshot once two later commits have come. A read counts only when no commit came while it
// ran; otherwise it is made again on the new snapshot.
template <typename Read>
bool EnvStore::withReadTxn(Read read) {
    for (int attempt = 0;; ++attempt) {
        MDB_txn*& txn = threadReaders.txns[id_];
        if (txn == nullptr) {
            if (mdb_txn_begin(env_, nullptr, MDB_RDONLY, &txn) != 0) {
                txn = nullptr;
                return false;
            }
        } else if (mdb_txn_renew(txn) != 0) {
            mdb_txn_abort(txn);
            txn = nullptr;
            return false;
        }
        const size_t snapshot = mdb_txn_id(txn);
        bool result = read(txn);
        mdb_txn_reset(txn);
        if (!readOnly_) return result;
        MDB_envinfo info{};
        if (mdb_env_info(env_, &info) == 0 && info.me_last_txnid == snapshot) return result;
        if (attempt >= kReadAttempts) return false;
        ::usleep(static_cast<useconds_t>(100 * (attempt + 1)));
    }
}

std::optional<std::string> EnvStore::get(std::string_view key) {
    std::string upper = ascii::toUpper(key);
    std::optional<std::string> out;
    withReadTxn([&](MDB_txn* txn) {
        out.reset();
        MDB_val k = toVal(upper), v{};
        if (mdb_get(txn, values_, &k, &v) != 0) return false;
        out = std::string(recordValue(fromVal(v)));
        return true;
    });
    return out;
}

bool EnvStore::getInto(std::string_view key, char* buffer, int size) {
    std::string upper = ascii::toUpper(key);
    return withReadTxn([&](MDB_txn* txn) {
        MDB_val k = toVal(upper), v{};
        if (mdb_get(txn, values_, &k, &v) != 0) return false;
        ascii::copyToBuffer(recordValue(fromVal(v)), buffer, size);
        return true;
    });
}

bool EnvStore::write(MDB_dbi dbi, std::string_view key, const std::string* value) {
    MDB_txn* txn = nullptr;
    if (mdb_txn_begin(env_, nullptr, 0, &txn) != 0) return false;
    MDB_val k = toVal(key);
    int rc = 0;
    if (value != nullptr) {
        MDB_val v = toVal(*value);
        rc = mdb_put(txn, dbi, &k, &v, 0);
    } else {
        rc = mdb_del(txn, dbi, &k, nullptr);
    }
    if (rc != 0) {
        mdb_txn_abort(txn);
        return false;
    }
    return mdb_txn_commit(txn) == 0;
}

bool EnvStore::set(std::string_view key, std::string_view value) {
    if (key.empty()) return false;
    std::string upper = ascii::toUpper(key);
    MDB_txn* txn = nullptr;
    if (mdb_txn_begin(env_, nullptr, 0, &txn) != 0) return false;
    MDB_val k = toVal(upper), old{};
    // An existing key keeps the spelling it was first written with.
    std::string record(mdb_get(txn, values_, &k, &old) == 0 ? recordKey(fromVal(old)) : key);
    record += '\0';
    record += value;
    MDB_val v = toVal(record);
    if (mdb_put(txn, values_, &k, &v, 0) != 0) {
        mdb_txn_abort(txn);
        return false;
    }
    return mdb_txn_commit(txn) == 0;
}

bool EnvStore::remove(std::string_view key) {
    return write(values_, ascii::toUpper(key), nullptr);
}

int EnvStore::forEach(
    const std::function<bool(std::string_view key, std::string_view value)>& visit) {
    // Copy first, so the callback may change the store.
    std::vector<std::pair<std::string, std::string>> records;
    withReadTxn([&](MDB_txn* txn) {
        records.clear();
        MDB_cursor* cursor = nullptr;
        if (mdb_cursor_open(txn, values_, &cursor) != 0) return false;
        MDB_val k{}, v{};
        for (int rc = mdb_cursor_get(cursor, &k, &v, MDB_FIRST); rc == 0;
             rc = mdb_cursor_get(cursor, &k, &v, MDB_NEXT)) {
            std::string_view record = fromVal(v);
            records.emplace_back(recordKey(record), recordValue(record));
        }
        mdb_cursor_close(cursor);
        return true;
    });
    int count = 0;
    for (const auto& [key, value] : records) {
        ++count;
        if (!visit(key, value)) break;
    }
    return count;
}

bool EnvStore::setBlob(std::string_view name, std::string_view bytes) {
    if (bytes.empty()) {
        write(blobs_, name, nullptr);
        return true;
    }
    std::string copy(bytes);
    return write(blobs_, name, &copy);
}

std::optional<std::string> EnvStore::getBlob(std::string_view name) {
    std::optional<std::string> out;
    withReadTxn([&](MDB_txn* txn) {
        out.reset();
        MDB_val k = toVal(name), v{};
        if (mdb_get(txn, blobs_, &k, &v) != 0) return false;
        out = std::string(fromVal(v));
        return true;
    });
    return out;
}

// Finding a store means path work on the file system; remember the answer per thread for the
// machine root, folder and process it was found for.
// A fork gives the child new stores; counted so the per-thread memory below needs no system call.
std::atomic<uint64_t> forkGeneration{0};

EnvStore* cachedStore(const std::string& relative) {
    static const bool atForkRegistered = [] {
        ::pthread_atfork(nullptr, nullptr, [] { forkGeneration.fetch_add(1); });
        return true;
    }();
    (void)atForkRegistered;
    struct Found {
        uint64_t generation;
        EnvStore* store;
    };
    thread_local std::map<std::string, Found, std::less<>> found;
    const char* root = std::getenv("OMBRIX_ROOT");
    std::string key = (root != nullptr ? root : "") + std::string(1, '\0') + relative;
    uint64_t generation = forkGeneration.load(std::memory_order_relaxed);
    auto it = found.find(key);
    if (it != found.end() && it->second.generation == generation) return it->second.store;
    EnvStore* store = EnvStore::open(platform::rootPath(relative, true));
    if (store != nullptr) found[key] = Found{generation, store};
    return store;
}

EnvStore* globalStore() {
    return cachedStore("env/global");
}

EnvStore* sessionStore() {
    return cachedStore("env/session/" + std::to_string(platform::currentSessionId()));
}

}  // namespace ombrix::env
