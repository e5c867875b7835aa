#define FUSE_USE_VERSION 31
#include "outside/oxtmpdrv/disc_mount.h"

#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <vector>

namespace oxtmpdrv {
namespace {

DiscFs& discOf() {
    return *static_cast<DiscFs*>(fuse_get_context()->private_data);
}

// Only the accounts of the sessions that hold the disc (and root) see anything of it.
bool callerMayRead() {
    return discOf().mayRead(fuse_get_context()->uid);
}

void* opInit(fuse_conn_info* conn, fuse_config* cfg) {
    // Listings always carry the attributes: a folder is listed once and every name stat'ed.
    conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
    // Larger read-ahead requests: fewer round trips per megabyte read.
    conn->max_readahead = 1u << 20;
    // The disc never changes while it is mounted: the kernel may keep data and names.
    cfg->kernel_cache = 1;
    cfg->entry_timeout = 3600;
    cfg->attr_timeout = 3600;
    cfg->negative_timeout = 3600;
    cfg->use_ino = 1;
    return fuse_get_context()->private_data;
}

// No exception may cross into the FUSE library: memory running out while a folder is first read
// answers ENOMEM for that call, and the mount goes on serving.
template <typename Operation>
int guarded(Operation&& operation) {
    try {
        return static_cast<int>(operation());
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    } catch (...) {
        return -EIO;
    }
}

int opGetattr(const char* path, struct stat* st, fuse_file_info*) {
    if (!callerMayRead()) return -EACCES;
    return guarded([&] { return discOf().getattr(path, st); });
}

int opOpen(const char* path, fuse_file_info* fi) {
    if (!callerMayRead()) return -EACCES;
    uint64_t handle = 0;
    int rc =
        guarded([&] { return discOf().open(path, fi->flags, fuse_get_context()->pid, handle); });
    if (rc == 0) {
        fi->fh = handle;
        fi->keep_cache = 1;
    }
    return rc;
}

int opRead(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    return guarded([&] { return discOf().read(fi->fh, buffer, size, offset); });
}

int opOpendir(const char* path, fuse_file_info*) {
    if (!callerMayRead()) return -EACCES;
    return guarded([&] { return discOf().opendir(path, fuse_get_context()->pid); });
}

// Entries carry their offsets (their place in the folder, from 1), so the library hands the
// kernel node ids and attributes with each name and the kernel keeps them: a listing then costs
// one request per folder, not one lookup per name. A full buffer ends a call; the next one
// resumes at the offset the kernel gives back.
int opReaddir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t offset,
              fuse_file_info*, fuse_readdir_flags flags) {
    if (!callerMayRead()) return -EACCES;
    const auto fill =
        static_cast<fuse_fill_dir_flags>((flags & FUSE_READDIR_PLUS) ? FUSE_FILL_DIR_PLUS : 0);
    return guarded([&] {
        off_t next = 0;
        bool full = false;
        auto add = [&](const char* name, const struct stat* st) {
            ++next;
            if (full || next <= offset) return;
            full = filler(buffer, name, st, next, fill) != 0;
        };
        add(".", nullptr);
        add("..", nullptr);
        return discOf().readdir(path, [&](const char* name, const struct stat& st) {
            add(name, &st);
        });
    });
}

int opStatfs(const char*, struct statvfs* st) {
    if (!callerMayRead()) return -EACCES;
    return discOf().statfs(st);
}

fuse_operations makeOperations() {
    fuse_operations ops{};
    ops.init = opInit;
    ops.getattr = opGetattr;
    ops.open = opOpen;
    ops.read = opRead;
    ops.opendir = opOpendir;
    ops.readdir = opReaddir;
    ops.statfs = opStatfs;
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
    static const fuse_operations ops = makeOperations();
    m->fuse_ = fuse_new(&args, &ops, sizeof ops, m->disc_.get());
    fuse_opt_free_args(&args);
    if (m->fuse_ == nullptr) {
        error = "the FUSE library refused the mount options";
        return nullptr;
    }
    if (fuse_mount(m->fuse_, mountPoint.c_str()) != 0) {
        error = "cannot mount at " + mountPoint;
        fuse_destroy(m->fuse_);
        m->fuse_ = nullptr;
        return nullptr;
    }
    m->wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    // Several threads take requests; a thread that finds none waiting goes back to poll.
    const int fd = fuse_session_fd(fuse_get_session(m->fuse_));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m->running_ = static_cast<int>(m->threads_.size());
    for (auto& thread : m->threads_)
        thread = std::thread([raw = m.get()] { raw->serve(); });
    return m;
}

void DiscMount::serve() {
    fuse_session* session = fuse_get_session(fuse_);
    const int fd = fuse_session_fd(session);
    fuse_buf buffer{};
    while (!stop_) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (stop_ || fds[1].revents) break;  // the wake-up stays readable for every thread
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) break;
        if (!(fds[0].revents & POLLIN)) continue;
        int n = fuse_session_receive_buf(session, &buffer);
        if (n == -EINTR || n == -EAGAIN) continue;
        if (n <= 0) break;  // unmounted
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
        ::waitpid(child, &status, 0);
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
    // End the serving thread first: unmounting closes the session's descriptor under it. A
    // request that arrives meanwhile fails when the connection closes; nothing waits for it.
    stop_ = true;
    if (wake_.valid()) {
        uint64_t one = 1;
        (void)!::write(wake_.get(), &one, sizeof one);
    }
    for (auto& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
    // A lazy unmount frees the folder at once; closing the connection fails whatever is still
    // open instead of leaving it (and anybody waiting on the unit) blocked.
    fuse_unmount(fuse_);
    fuse_destroy(fuse_);
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
