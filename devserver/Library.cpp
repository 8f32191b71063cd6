#include "devserver/Library.h"

#include "devserver/FileDigest.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace spinforge::devserver {
namespace fs = std::filesystem;
namespace {

std::size_t utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xc2 && lead <= 0xdf) return 2;
    if (lead >= 0xe0 && lead <= 0xef) return 3;
    if (lead >= 0xf0 && lead <= 0xf4) return 4;
    return 0;
}

// Checks structure only (lead and continuation bytes); good enough to keep JSON encoding safe.
bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(static_cast<unsigned char>(text[i]));
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return false;
        i += length;
    }
    return true;
}

Track describe(long long id, const fs::path& root, const std::string& relativePath) {
    Track track;
    track.id = id;
    track.relativePath = relativePath;
    track.file = root / fs::path(relativePath);
    track.filename = track.file.filename().string();
    const TrackName name = trackNameFromStem(track.file.stem().string());
    track.artist = name.artist;
    track.title = name.title;
    return track;
}

}  // namespace

TrackName trackNameFromStem(const std::string& stem) {
    const std::size_t dash = stem.find(" - ");
    if (dash != std::string::npos && dash > 0 && dash + 3 < stem.size())
        return {stem.substr(0, dash), stem.substr(dash + 3)};
    return {"Unknown Artist", stem};
}

std::vector<std::string> listLibraryFiles(const fs::path& root, const Warning& warn) {
    if (!fs::is_directory(root)) throw std::runtime_error("library folder " + root.string() + " does not exist");
    std::vector<std::string> paths;
    auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied);
    for (; it != fs::recursive_directory_iterator(); ++it) {
        std::error_code error;
        if (it->path().filename().string().starts_with('.')) {
            it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file(error)) continue;
        std::string relative = it->path().lexically_relative(root).generic_string();
        if (!isUtf8(relative)) {
            warn("skipping " + it->path().string() + ": its name is not UTF-8");
            continue;
        }
        paths.push_back(std::move(relative));
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

Library Library::load(const fs::path& root, const Progress& progress, const Warning& warn) {
    const std::vector<std::string> paths = listLibraryFiles(root, warn);
    Library library;
    for (const std::string& path : paths) {
        Track track = describe(static_cast<long long>(library.tracks_.size()) + 1, root, path);
        const FileDigest digest = digestFile(track.file);
        track.sha256 = digest.sha256;
        track.byteSize = digest.byteSize;
        library.tracks_.push_back(std::move(track));
        progress(library.tracks_.size(), paths.size());
    }
    return library;
}

const Track* Library::find(long long id) const {
    if (id < 1 || id > static_cast<long long>(tracks_.size())) return nullptr;
    return &tracks_[std::size_t(id - 1)];
}

}  // namespace spinforge::devserver
