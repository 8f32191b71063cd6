// spinforge-fake-stick MOUNTPOINT: a stick that keeps less than it is given, as full fake-capacity
// sticks do; a FUSE file system in memory whose pages the kernel keeps across opens, so reading back
// what was just written sees the kernel's memory. Prints "mounted"; after SIGUSR2 every block
// written reads back as zeros (SIGUSR1: kept again); SIGTERM unmounts it.
//
// spinforge-fake-stick --stall-writes MOUNTPOINT: a stick whose writes below /DJ-Music stall for
// half a minute, each sent to it at once (no write-back cache), ending early with EINTR when the
// kernel interrupts the request because the writer got a signal.

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Node {
    bool folder = false;
    std::string bytes;  // what reads give: zeros where a write was lost
};

std::map<std::string, Node> nodes{{"/", {true, {}}}};
volatile std::sig_atomic_t losing = 0;
bool stalling = false;
// Stalling serves requests on several threads, so that the kernel's interruption reaches a stalled one.
std::mutex nodesLock;
using Lock = std::lock_guard<std::mutex>;

int interruption() { return SIGRTMIN + 4; }

// Half a minute, or until the kernel interrupts the request; -EINTR then.
int stall() {
    timespec left{30, 0};
    return ::nanosleep(&left, &left) == 0 ? 0 : -EINTR;
}

Node* find(const char* path) {
    const auto found = nodes.find(path);
    return found == nodes.end() ? nullptr : &found->second;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

int getattrOp(const char* path, struct stat* status, fuse_file_info*) {
    const Lock locked(nodesLock);
    const Node* node = find(path);
    if (!node) return -ENOENT;
    *status = {};
    status->st_mode = node->folder ? S_IFDIR | 0755 : S_IFREG | 0644;
    status->st_nlink = node->folder ? 2 : 1;
    status->st_size = off_t(node->bytes.size());
    return 0;
}

int readdirOp(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    const Lock locked(nodesLock);
    for (const char* dot : {".", ".."}) fill(buffer, dot, nullptr, 0, fuse_fill_dir_flags(0));
    for (const auto& [name, node] : nodes)
        if (name != "/" && parentOf(name) == path) fill(buffer, name.substr(name.rfind('/') + 1).c_str(), nullptr, 0, fuse_fill_dir_flags(0));
    return 0;
}

int makeNode(const char* path, bool folder) {
    const Lock locked(nodesLock);
    if (find(path)) return -EEXIST;
    const Node* parent = find(parentOf(path).c_str());
    if (!parent || !parent->folder) return -ENOENT;
    nodes[path] = {folder, {}};
    return 0;
}

int mkdirOp(const char* path, mode_t) { return makeNode(path, true); }
int createOp(const char* path, mode_t, fuse_file_info*) { return makeNode(path, false); }
int unlinkOp(const char* path) {
    const Lock locked(nodesLock);
    return nodes.erase(path) ? 0 : -ENOENT;
}

int renameOp(const char* from, const char* to, unsigned int flags) {
    const Lock locked(nodesLock);
    const auto moving = nodes.find(from);
    if (flags || moving == nodes.end()) return flags ? -EINVAL : -ENOENT;
    Node node = std::move(moving->second);
    nodes.erase(moving);
    nodes[to] = std::move(node);
    return 0;
}

int truncateOp(const char* path, off_t size, fuse_file_info*) {
    const Lock locked(nodesLock);
    Node* node = find(path);
    if (!node) return -ENOENT;
    node->bytes.resize(std::size_t(size), '\0');
    return 0;
}

int openOp(const char* path, fuse_file_info* info) {
    const Lock locked(nodesLock);
    info->keep_cache = 1;  // what the kernel holds of the file stays valid across opens
    return find(path) ? 0 : -ENOENT;
}

int readOp(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
    const Lock locked(nodesLock);
    const Node* node = find(path);
    if (!node) return -ENOENT;
    if (std::size_t(offset) >= node->bytes.size()) return 0;
    const size_t count = std::min(size, node->bytes.size() - size_t(offset));
    std::memcpy(buffer, node->bytes.data() + offset, count);
    return int(count);
}

int writeOp(const char* path, const char* data, size_t size, off_t offset, fuse_file_info*) {
    if (stalling && std::strncmp(path, "/DJ-Music/", 10) == 0)
        if (const int interrupted = stall()) return interrupted;
    const Lock locked(nodesLock);
    Node* node = find(path);
    if (!node) return -ENOENT;
    if (std::size_t(offset) + size > node->bytes.size()) node->bytes.resize(std::size_t(offset) + size, '\0');
    // A lost write is acknowledged all the same.
    if (losing) std::memset(node->bytes.data() + offset, 0, size);
    else std::memcpy(node->bytes.data() + offset, data, size);
    return int(size);
}

int statfsOp(const char*, struct statvfs* status) {
    *status = {};
    status->f_bsize = status->f_frsize = 4096;
    status->f_blocks = status->f_bfree = status->f_bavail = 1 << 20;  // what such a stick claims: plenty
    status->f_namemax = 255;
    return 0;
}

int syncOp(const char*, int, fuse_file_info*) { return 0; }
// With writeback the kernel keeps the times and hands them over when it flushes.
int utimensOp(const char* path, const timespec*, fuse_file_info*) {
    const Lock locked(nodesLock);
    return find(path) ? 0 : -ENOENT;
}

void* initOp(fuse_conn_info* connection, fuse_config* config) {
    // Stalling, each write is a request of its own that the writer waits for.
    if (!stalling && (connection->capable & FUSE_CAP_WRITEBACK_CACHE)) connection->want |= FUSE_CAP_WRITEBACK_CACHE;
    config->kernel_cache = 1;
    // The kernel's interruption of a request reaches the thread serving it as a signal of its own
    // (not SIGUSR1 or 2), which ends its stall.
    if (stalling) {
        config->intr = 1;
        config->intr_signal = interruption();
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    stalling = argc == 3 && std::strcmp(argv[1], "--stall-writes") == 0;
    if (argc != 2 && !stalling) {
        std::fprintf(stderr, "usage: spinforge-fake-stick [--stall-writes] MOUNTPOINT\n");
        return 2;
    }
    const char* mountPoint = argv[argc - 1];
    fuse_operations operations{};
    operations.getattr = getattrOp;
    operations.readdir = readdirOp;
    operations.mkdir = mkdirOp;
    operations.create = createOp;
    operations.unlink = unlinkOp;
    operations.rename = renameOp;
    operations.truncate = truncateOp;
    operations.open = openOp;
    operations.read = readOp;
    operations.write = writeOp;
    operations.statfs = statfsOp;
    operations.fsync = syncOp;
    operations.fsyncdir = syncOp;
    operations.utimens = utimensOp;
    operations.init = initOp;

    char* arguments[] = {argv[0], const_cast<char*>("-o"), const_cast<char*>("default_permissions,fsname=fake-stick")};
    fuse_args args = FUSE_ARGS_INIT(3, arguments);
    fuse* session = fuse_new(&args, &operations, sizeof operations, nullptr);
    if (!session || fuse_mount(session, mountPoint) != 0) return 1;
    fuse_set_signal_handlers(fuse_get_session(session));
    if (stalling) {
        struct sigaction interrupted {};
        interrupted.sa_handler = [](int) {};  // only ends the sleep it lands in
        ::sigaction(interruption(), &interrupted, nullptr);
    }
    std::signal(SIGUSR1, [](int) { losing = 0; });
    std::signal(SIGUSR2, [](int) { losing = 1; });
    std::printf("mounted\n");
    std::fflush(stdout);
    const int result = stalling ? fuse_loop_mt(session, 0) : fuse_loop(session);
    fuse_remove_signal_handlers(fuse_get_session(session));
    fuse_unmount(session);
    fuse_destroy(session);
    return result == 0 ? 0 : 1;
}
