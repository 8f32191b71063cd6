// spinforge-fake-stick MOUNTPOINT: a stick that keeps less than it is given, as full fake-capacity
// sticks do; a FUSE file system in memory whose pages the kernel keeps across opens, so reading back
// what was just written sees the kernel's memory. Prints "mounted"; after SIGUSR2 every block
// written reads back as zeros (SIGUSR1: kept again); SIGTERM unmounts it.

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

struct Node {
    bool folder = false;
    std::string bytes;  // what reads give: zeros where a write was lost
};

std::map<std::string, Node> nodes{{"/", {true, {}}}};
volatile std::sig_atomic_t losing = 0;

Node* find(const char* path) {
    const auto found = nodes.find(path);
    return found == nodes.end() ? nullptr : &found->second;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

int getattrOp(const char* path, struct stat* status, fuse_file_info*) {
    const Node* node = find(path);
    if (!node) return -ENOENT;
    *status = {};
    status->st_mode = node->folder ? S_IFDIR | 0755 : S_IFREG | 0644;
    status->st_nlink = node->folder ? 2 : 1;
    status->st_size = off_t(node->bytes.size());
    return 0;
}

int readdirOp(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    for (const char* dot : {".", ".."}) fill(buffer, dot, nullptr, 0, fuse_fill_dir_flags(0));
    for (const auto& [name, node] : nodes)
        if (name != "/" && parentOf(name) == path) fill(buffer, name.substr(name.rfind('/') + 1).c_str(), nullptr, 0, fuse_fill_dir_flags(0));
    return 0;
}

int makeNode(const char* path, bool folder) {
    if (find(path)) return -EEXIST;
    const Node* parent = find(parentOf(path).c_str());
    if (!parent || !parent->folder) return -ENOENT;
    nodes[path] = {folder, {}};
    return 0;
}

int mkdirOp(const char* path, mode_t) { return makeNode(path, true); }
int createOp(const char* path, mode_t, fuse_file_info*) { return makeNode(path, false); }
int unlinkOp(const char* path) { return nodes.erase(path) ? 0 : -ENOENT; }

int renameOp(const char* from, const char* to, unsigned int flags) {
    const auto moving = nodes.find(from);
    if (flags || moving == nodes.end()) return flags ? -EINVAL : -ENOENT;
    Node node = std::move(moving->second);
    nodes.erase(moving);
    nodes[to] = std::move(node);
    return 0;
}

int truncateOp(const char* path, off_t size, fuse_file_info*) {
    Node* node = find(path);
    if (!node) return -ENOENT;
    node->bytes.resize(std::size_t(size), '\0');
    return 0;
}

int openOp(const char* path, fuse_file_info* info) {
    info->keep_cache = 1;  // what the kernel holds of the file stays valid across opens
    return find(path) ? 0 : -ENOENT;
}

int readOp(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
    const Node* node = find(path);
    if (!node) return -ENOENT;
    if (std::size_t(offset) >= node->bytes.size()) return 0;
    const size_t count = std::min(size, node->bytes.size() - size_t(offset));
    std::memcpy(buffer, node->bytes.data() + offset, count);
    return int(count);
}

int writeOp(const char* path, const char* data, size_t size, off_t offset, fuse_file_info*) {
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
int utimensOp(const char* path, const timespec*, fuse_file_info*) { return find(path) ? 0 : -ENOENT; }

void* initOp(fuse_conn_info* connection, fuse_config* config) {
    if (connection->capable & FUSE_CAP_WRITEBACK_CACHE) connection->want |= FUSE_CAP_WRITEBACK_CACHE;
    config->kernel_cache = 1;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: spinforge-fake-stick MOUNTPOINT\n");
        return 2;
    }
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
    if (!session || fuse_mount(session, argv[1]) != 0) return 1;
    fuse_set_signal_handlers(fuse_get_session(session));
    std::signal(SIGUSR1, [](int) { losing = 0; });
    std::signal(SIGUSR2, [](int) { losing = 1; });
    std::printf("mounted\n");
    std::fflush(stdout);
    const int result = fuse_loop(session);
    fuse_remove_signal_handlers(fuse_get_session(session));
    fuse_unmount(session);
    fuse_destroy(session);
    return result == 0 ? 0 : 1;
}
