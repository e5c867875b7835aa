#define FUSE_USE_VERSION 31
#include "outside/oxtmpdrv/disc_mount.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <system_error>
#include <vector>

namespace oxtmpdrv {
namespace {

// The disc never changes while it is in the unit: the kernel may keep names, attributes and
// listings for as long as it likes.
constexpr double kForever = 365.0 * 24 * 3600;

// The number a listing gives a folder it does not know (the parent's "..").
constexpr ino_t kUnknownNode = 0xffffffff;

DiscFs& discOf(fuse_req_t req) {
    return *static_cast<DiscFs*>(fuse_req_userdata(req));
}

// Node ids are the disc's node numbers plus one, so the root is FUSE_ROOT_ID.
uint32_t nodeOf(fuse_ino_t ino) {
    return static_cast<uint32_t>(ino - 1);
}

// Only the accounts of the sessions that hold the disc (and root) see anything of it.
bool callerMayRead(fuse_req_t req) {
    return discOf(req).mayRead(fuse_req_ctx(req)->uid);
}

// Runs an operation that answers the request itself and returns 0, or returns an errno that is
// answered here. No exception crosses into the FUSE library: memory running out while a folder
// is first read answers ENOMEM for that call, and the mount goes on serving.
template <typename Operation>
void answer(fuse_req_t req, Operation&& operation) {
    int err = 0;
    if (!callerMayRead(req)) {
        err = EACCES;
    } else {
        try {
            err = operation();
        } catch (const std::bad_alloc&) {
            err = ENOMEM;
        } catch (...) {
            err = EIO;
        }
    }
    if (err != 0) fuse_reply_err(req, err);
}

// A buffer for the answers of one serving thread, grown to the largest asked for.
char* answerBuffer(size_t size) {
    thread_local std::unique_ptr<char[]> buffer;
    thread_local size_t capacity = 0;
    if (size > capacity) {
        buffer = std::make_unique_for_overwrite<char[]>(size);
        capacity = size;
    }
    return buffer.get();
}

void opInit(void*, fuse_conn_info* conn) {
    // Listings always carry the attributes: a folder is listed once and every name stat'ed.
    conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
    // Larger read-ahead requests: fewer round trips per megabyte read.
    conn->max_readahead = 1u << 20;
}

fuse_entry_param entryOf(fuse_ino_t ino, const struct stat& st) {
    fuse_entry_param e{};
    e.ino = ino;
    e.attr = st;
    e.attr_timeout = kForever;
    e.entry_timeout = kForever;
    return e;
}

void opLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    answer(req, [&] {
        const long node = discOf(req).child(nodeOf(parent), name);
        struct stat st {};
        if (node == -ENOENT) {
            // The kernel keeps the answer that there is no such name, too.
            fuse_entry_param none = entryOf(0, st);
            fuse_reply_entry(req, &none);
            return 0;
        }
        if (node < 0) return static_cast<int>(-node);
        if (int rc = discOf(req).getattr(static_cast<uint32_t>(node), &st)) return -rc;
        const fuse_entry_param e = entryOf(static_cast<fuse_ino_t>(node) + 1, st);
        fuse_reply_entry(req, &e);
        return 0;
    });
}

void opGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
    answer(req, [&] {
        struct stat st;
        if (int rc = discOf(req).getattr(nodeOf(ino), &st)) return -rc;
        fuse_reply_attr(req, &st, kForever);
        return 0;
    });
}

void opOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    answer(req, [&] {
        if (int rc = discOf(req).open(nodeOf(ino), fi->flags, fuse_req_ctx(req)->pid)) return -rc;
        fi->fh = nodeOf(ino);
        fi->keep_cache = 1;
        fuse_reply_open(req, fi);
        return 0;
    });
}

void opRead(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
    answer(req, [&] {
        char* buffer = answerBuffer(size);
        const long n = discOf(req).read(fi->fh, buffer, size, offset);
        if (n < 0) return static_cast<int>(-n);
        fuse_reply_buf(req, buffer, static_cast<size_t>(n));
        return 0;
    });
}

void opOpendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    answer(req, [&] {
        if (int rc = discOf(req).opendir(nodeOf(ino), fuse_req_ctx(req)->pid)) return -rc;
        // The kernel keeps a folder's listing too, from one opening to the next.
        fi->cache_readdir = 1;
        fi->keep_cache = 1;
        fuse_reply_open(req, fi);
        return 0;
    });
}

// Fills one answer of a listing. Entries carry their offsets (their place in the folder, from
// 1: "." and ".." first); with attributes, each carries its node id too, and the kernel keeps
// both, so a listing costs one request per answer, not one lookup per name. A full buffer
// ends the answer; the next request resumes at the offset the kernel gives back.
void listFolder(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, bool withAttributes) {
    answer(req, [&] {
        const DiscFs& disc = discOf(req);
        char* buffer = answerBuffer(size);
        size_t used = 0;
        off_t place = 0;
        auto add = [&](const char* name, const struct stat& st, fuse_ino_t node) {
            ++place;
            if (place <= offset) return true;
            char* at = buffer + used;
            const size_t room = size - used;
            size_t needed;
            if (withAttributes) {
                const fuse_entry_param e = entryOf(node, st);
                needed = fuse_add_direntry_plus(req, at, room, name, &e, place);
            } else {
                needed = fuse_add_direntry(req, at, room, name, &st, place);
            }
            if (needed > room) return false;
            used += needed;
            return true;
        };
        struct stat st;
        if (int rc = disc.getattr(nodeOf(ino), &st)) return -rc;
        // The dots carry no node id: the kernel knows both folders already.
        if (add(".", st, 0)) {
            struct stat up {};
            up.st_mode = S_IFDIR;
            up.st_ino = kUnknownNode;
            if (add("..", up, 0)) {
                const size_t from = offset > 2 ? static_cast<size_t>(offset - 2) : 0;
                place = std::max<off_t>(place, offset);
                if (int rc = disc.readdir(nodeOf(ino), from,
                                          [&](const char* name, const struct stat& entry) {
                                              return add(name, entry, entry.st_ino);
                                          })) {
                    return -rc;
                }
            }
        }
        fuse_reply_buf(req, buffer, used);
        return 0;
    });
}

void opReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info*) {
    listFolder(req, ino, size, offset, false);
}

void opReaddirplus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info*) {
    listFolder(req, ino, size, offset, true);
}

void opStatfs(fuse_req_t req, fuse_ino_t) {
    answer(req, [&] {
        struct statvfs st;
        if (int rc = discOf(req).statfs(&st)) return -rc;
        fuse_reply_statfs(req, &st);
        return 0;
    });
}

// The disc's volume label, as the attribute "user.volume_label" of the root folder: how the
// drive letters' owners show a disc's name without reading its sectors.
constexpr const char* kLabelAttribute = "user.volume_label";

void opGetxattr(fuse_req_t req, fuse_ino_t ino, const char* name, size_t size) {
    answer(req, [&] {
        if (ino != FUSE_ROOT_ID || std::strcmp(name, kLabelAttribute) != 0) return ENODATA;
        const std::string& label = discOf(req).label();
        if (size == 0) {
            fuse_reply_xattr(req, label.size());
        } else if (size < label.size()) {
            return ERANGE;
        } else {
            fuse_reply_buf(req, label.data(), label.size());
        }
        return 0;
    });
}

void opListxattr(fuse_req_t req, fuse_ino_t ino, size_t size) {
    answer(req, [&] {
        // The names' list: each name with its terminating zero.
        const std::string names =
            ino == FUSE_ROOT_ID ? std::string(kLabelAttribute, std::strlen(kLabelAttribute) + 1)
                                : std::string();
        if (size == 0) {
            fuse_reply_xattr(req, names.size());
        } else if (size < names.size()) {
            return ERANGE;
        } else {
            fuse_reply_buf(req, names.data(), names.size());
        }
        return 0;
    });
}

fuse_lowlevel_ops makeOperations() {
    fuse_lowlevel_ops ops{};
    ops.init = opInit;
    ops.lookup = opLookup;
    ops.getattr = opGetattr;
    ops.open = opOpen;
    ops.read = opRead;
    ops.opendir = opOpendir;
    ops.readdir = opReaddir;
    ops.readdirplus = opReaddirplus;
    ops.statfs = opStatfs;
    ops.getxattr = opGetxattr;
    ops.listxattr = opListxattr;
    return ops;
}

}  // namespace

std::unique_ptr<DiscMount> DiscMount::start(std::unique_ptr<DiscFs> disc,
                                            const std::string& mountPoint,
                                            const MountOptions& options, std::string& error) {
    std::unique_ptr<DiscMount> m(new DiscMount());
    m->disc_ = std::move(disc);
    m->mountPoint_ = mountPoint;
    std::string mountOptions = "ro,default_permissions,fsname=ombrix,subtype=ombrix";
    if (options.allowOther) mountOptions += ",allow_other";
    std::vector<std::string> argv = {"oxtmpdrv", "-o", mountOptions};
    std::vector<char*> pointers;
    for (auto& a : argv)
        pointers.push_back(a.data());
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(pointers.size()), pointers.data());
    static const fuse_lowlevel_ops ops = makeOperations();
    m->fuse_ = fuse_session_new(&args, &ops, sizeof ops, m->disc_.get());
    fuse_opt_free_args(&args);
    if (m->fuse_ == nullptr) {
        error = "the FUSE library refused the mount options";
        return nullptr;
    }
    if (fuse_session_mount(m->fuse_, mountPoint.c_str()) != 0) {
        error = "cannot mount at " + mountPoint;
        fuse_session_destroy(m->fuse_);
        m->fuse_ = nullptr;
        return nullptr;
    }
    // Several threads take requests, each waiting in its own read of the device: a request
    // wakes one of them. A thread that cannot be started leaves the others serving.
    for (auto& thread : m->threads_) {
        ++m->running_;
        try {
            thread = std::thread([raw = m.get()] { raw->serve(); });
        } catch (const std::system_error&) {
            --m->running_;
        }
    }
    if (m->running_ == 0) {
        error = "cannot start a thread to serve the mount";
        return nullptr;
    }
    return m;
}

namespace {

// The signal that ends a serving thread's wait: its handler does nothing, and being installed
// without SA_RESTART it makes the waiting read give up.
int stopSignal() {
    static const int number = [] {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGUSR2, &action, nullptr);
        return SIGUSR2;
    }();
    return number;
}

}  // namespace

void DiscMount::serve() {
    sigset_t stopOnly;
    ::sigemptyset(&stopOnly);
    ::sigaddset(&stopOnly, stopSignal());
    ::pthread_sigmask(SIG_UNBLOCK, &stopOnly, nullptr);
    fuse_session* session = fuse_;
    fuse_buf buffer{};
    while (!stop_) {
        const int n = fuse_session_receive_buf(session, &buffer);
        if (n == -EINTR) continue;
        if (n <= 0) break;  // unmounted, or the connection ended
        fuse_session_process_buf(session, &buffer);
    }
    std::free(buffer.mem);
    --running_;
}

namespace {

// Lazy unmount: directly with the right to unmount, else through the FUSE helper, which lets
// a user unmount what that user mounted.
void unmountLazily(const std::string& folder) {
    if (::umount2(folder.c_str(), MNT_DETACH) == 0) return;
    pid_t child = ::fork();
    if (child == 0) {
        ::execlp("fusermount3", "fusermount3", "-u", "-z", "-q", folder.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

}  // namespace

void DiscMount::detach() {
    if (detached_ || fuse_ == nullptr) return;
    detached_ = true;
    unmountLazily(mountPoint_);
}

DiscMount::~DiscMount() {
    if (fuse_ == nullptr) return;
    // End the serving threads first: unmounting closes the session's descriptor under them. A
    // request that arrives meanwhile fails when the connection closes; nothing waits for it.
    // The signal is sent again until every thread is out, as one may only be on its way into
    // its read when the first arrives.
    stop_ = true;
    while (running_ > 0) {
        for (auto& thread : threads_) {
            if (thread.joinable()) ::pthread_kill(thread.native_handle(), stopSignal());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (auto& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
    // A lazy unmount frees the folder at once; closing the connection fails whatever is still
    // open instead of leaving it (and anybody waiting on the unit) blocked.
    fuse_session_unmount(fuse_);
    fuse_session_destroy(fuse_);
}

bool fuseUsable(std::string& why) {
    int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("/dev/fuse: ") + std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

bool otherUsersAllowed(const std::string& fuseConf) {
    if (::geteuid() == 0) return true;
    std::ifstream in(fuseConf);
    std::string line;
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        size_t end = line.find_last_not_of(" \t\r");
        if (line.substr(start, end - start + 1) == "user_allow_other") return true;
    }
    return false;
}

void clearStaleMount(const std::string& folder) {
    struct stat st, parent;
    const std::string up = folder + "/..";
    bool stale = false;
    if (::stat(folder.c_str(), &st) != 0) {
        stale = errno == ENOTCONN || errno == EIO;
    } else if (::stat(up.c_str(), &parent) == 0) {
        stale = st.st_dev != parent.st_dev;
    }
    if (!stale) return;
    unmountLazily(folder);
}

}  // namespace oxtmpdrv
