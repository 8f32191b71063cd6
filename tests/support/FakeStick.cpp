// spinforge-fake-stick: a USB stick that keeps less than it is given, as fake-capacity sticks do.
// A FUSE file system held in memory that keeps only so many bytes of file content: a block written
// once that budget is spent is acknowledged but lost, and reads back as zeros. The kernel is asked
// to keep each file's pages across opens and to cache writes (writeback), so a program that reads
// back what it just wrote sees its own bytes from memory, not what the stick kept.
//
//   spinforge-fake-stick MOUNTPOINT KEEPS_BYTES
//
// Prints "mounted" once the file system is there. SIGUSR2 spends what is left of the budget (from
// then on every new block is lost, while the stick still claims plenty of room); SIGUSR1 lifts it
// (from then on every block is kept); SIGTERM unmounts it and ends the process. Single-threaded;
// for tests, as root.

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr off_t kBlock = 4096;

struct Node {
    bool folder = false;
    std::vector<char> bytes;  // what reads give: zeros where a block was lost
    std::vector<bool> kept;   // per block: whether the stick holds it
};

std::map<std::string, std::unique_ptr<Node>> nodes;
off_t blocksLeft = 0;
volatile std::sig_atomic_t keepEverything = 0;
volatile std::sig_atomic_t keepNothingMore = 0;

Node* find(const char* path) {
    const auto found = nodes.find(path);
    return found == nodes.end() ? nullptr : found->second.get();
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

void forget(Node& node) {
    blocksLeft += std::count(node.kept.begin(), node.kept.end(), true);
    node.kept.clear();
}

void resize(Node& node, off_t size) {
    const std::size_t blocks = std::size_t((size + kBlock - 1) / kBlock);
    for (std::size_t block = blocks; block < node.kept.size(); ++block) blocksLeft += node.kept[block];
    node.kept.resize(blocks, false);
    node.bytes.resize(std::size_t(size), '\0');
}

int getattrOp(const char* path, struct stat* status, fuse_file_info*) {
    const Node* node = find(path);
    if (!node) return -ENOENT;
    *status = {};
    status->st_mode = node->folder ? S_IFDIR | 0755 : S_IFREG | 0644;
    status->st_nlink = node->folder ? 2 : 1;
    status->st_size = off_t(node->bytes.size());
    status->st_blksize = kBlock;
    status->st_blocks = (status->st_size + 511) / 512;
    return 0;
}

int readdirOp(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags(0));
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags(0));
    const std::string folder = path;
    for (const auto& [name, node] : nodes)
        if (name != "/" && parentOf(name) == folder)
            fill(buffer, name.substr(name.rfind('/') + 1).c_str(), nullptr, 0, fuse_fill_dir_flags(0));
    return 0;
}

int makeNode(const char* path, bool folder) {
    if (find(path)) return -EEXIST;
    const Node* parent = find(parentOf(path).c_str());
    if (!parent || !parent->folder) return -ENOENT;
    nodes[path] = std::make_unique<Node>(Node{folder, {}, {}});
    return 0;
}

int mkdirOp(const char* path, mode_t) { return makeNode(path, true); }
int createOp(const char* path, mode_t, fuse_file_info*) { return makeNode(path, false); }

int unlinkOp(const char* path) {
    Node* node = find(path);
    if (!node || node->folder) return node ? -EISDIR : -ENOENT;
    forget(*node);
    nodes.erase(path);
    return 0;
}

int rmdirOp(const char* path) {
    const std::string folder = path;
    for (const auto& [name, node] : nodes)
        if (name != "/" && parentOf(name) == folder) return -ENOTEMPTY;
    return nodes.erase(folder) ? 0 : -ENOENT;
}

int renameOp(const char* from, const char* to, unsigned int flags) {
    if (flags) return -EINVAL;
    const auto moving = nodes.find(from);
    if (moving == nodes.end()) return -ENOENT;
    if (Node* replaced = find(to)) forget(*replaced);
    std::unique_ptr<Node> node = std::move(moving->second);
    nodes.erase(moving);
    nodes[to] = std::move(node);
    return 0;
}

int truncateOp(const char* path, off_t size, fuse_file_info*) {
    Node* node = find(path);
    if (!node) return -ENOENT;
    resize(*node, size);
    return 0;
}

int openOp(const char* path, fuse_file_info* info) {
    if (!find(path)) return -ENOENT;
    info->keep_cache = 1;  // what the kernel holds of the file stays valid across opens
    return 0;
}

int readOp(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
    const Node* node = find(path);
    if (!node) return -ENOENT;
    if (offset >= off_t(node->bytes.size())) return 0;
    const size_t count = std::min(size, node->bytes.size() - size_t(offset));
    std::memcpy(buffer, node->bytes.data() + offset, count);
    return int(count);
}

int writeOp(const char* path, const char* data, size_t size, off_t offset, fuse_file_info*) {
    Node* node = find(path);
    if (!node) return -ENOENT;
    if (keepNothingMore) {
        keepNothingMore = 0;
        blocksLeft = 0;
    }
    if (offset + off_t(size) > off_t(node->bytes.size())) resize(*node, offset + off_t(size));
    for (off_t at = offset; at < offset + off_t(size);) {
        const std::size_t block = std::size_t(at / kBlock);
        const off_t end = std::min(offset + off_t(size), off_t(block + 1) * kBlock);
        if (!node->kept[block] && (keepEverything || blocksLeft > 0)) {
            node->kept[block] = true;
            if (!keepEverything) --blocksLeft;
        }
        // A block the stick has no room for is lost: the write is acknowledged all the same.
        if (node->kept[block]) std::memcpy(node->bytes.data() + at, data + (at - offset), size_t(end - at));
        else std::memset(node->bytes.data() + at, 0, size_t(end - at));
        at = end;
    }
    return int(size);
}

int statfsOp(const char*, struct statvfs* status) {
    *status = {};
    status->f_bsize = status->f_frsize = kBlock;
    status->f_blocks = status->f_bfree = status->f_bavail = 1 << 20;  // what such a stick claims: plenty
    status->f_namemax = 255;
    return 0;
}

int succeed(const char*, int, fuse_file_info*) { return 0; }
int accessOp(const char* path, int) { return find(path) ? 0 : -ENOENT; }
int utimensOp(const char* path, const timespec*, fuse_file_info*) { return find(path) ? 0 : -ENOENT; }

void* initOp(fuse_conn_info* connection, fuse_config* config) {
    if (connection->capable & FUSE_CAP_WRITEBACK_CACHE) connection->want |= FUSE_CAP_WRITEBACK_CACHE;
    config->kernel_cache = 1;
    return nullptr;
}

void onKeepEverything(int) { keepEverything = 1; }
void onKeepNothingMore(int) { keepNothingMore = 1; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: spinforge-fake-stick MOUNTPOINT KEEPS_BYTES\n");
        return 2;
    }
    blocksLeft = off_t(std::stoll(argv[2]) / kBlock);
    nodes["/"] = std::make_unique<Node>(Node{true, {}, {}});

    fuse_operations operations{};
    operations.getattr = getattrOp;
    operations.readdir = readdirOp;
    operations.mkdir = mkdirOp;
    operations.create = createOp;
    operations.unlink = unlinkOp;
    operations.rmdir = rmdirOp;
    operations.rename = renameOp;
    operations.truncate = truncateOp;
    operations.open = openOp;
    operations.read = readOp;
    operations.write = writeOp;
    operations.statfs = statfsOp;
    operations.fsync = succeed;
    operations.fsyncdir = succeed;
    operations.access = accessOp;
    operations.utimens = utimensOp;
    operations.init = initOp;

    char* arguments[] = {argv[0], const_cast<char*>("-o"), const_cast<char*>("default_permissions,fsname=fake-stick")};
    fuse_args args = FUSE_ARGS_INIT(3, arguments);
    fuse* session = fuse_new(&args, &operations, sizeof operations, nullptr);
    if (!session || fuse_mount(session, argv[1]) != 0) return 1;
    fuse_set_signal_handlers(fuse_get_session(session));
    struct sigaction keep = {};
    keep.sa_handler = onKeepEverything;
    keep.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &keep, nullptr);
    keep.sa_handler = onKeepNothingMore;
    sigaction(SIGUSR2, &keep, nullptr);
    std::printf("mounted\n");
    std::fflush(stdout);
    const int result = fuse_loop(session);
    fuse_remove_signal_handlers(fuse_get_session(session));
    fuse_unmount(session);
    fuse_destroy(session);
    return result == 0 ? 0 : 1;
}
