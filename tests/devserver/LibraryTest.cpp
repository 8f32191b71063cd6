#include "devserver/Library.h"
#include "devserver/SampleLibrary.h"

#include "HttpCheck.h"
#include "support/DevServer.h"

#include <gtest/gtest.h>

#include <set>

namespace spinforge::devserver {
namespace {

using devserver_tests::patternBytes;
using devserver_tests::sha256Hex;
using testing_support::DevServer;
using testing_support::TempDir;

Library load(const std::string& root, std::vector<std::string>* warnings = nullptr) {
    return Library::load(
        root, [](std::size_t, std::size_t) {},
        [warnings](const std::string& text) {
            if (warnings) warnings->push_back(text);
        });
}

std::vector<std::string> pathsOf(const Library& library) {
    std::vector<std::string> paths;
    for (const Track& track : library.tracks()) paths.push_back(track.relativePath);
    return paths;
}

TEST(TrackName, ArtistAndTitleSplitAtTheFirstSeparator) {
    EXPECT_EQ(trackNameFromStem("Moby - Porcelain").artist, "Moby");
    EXPECT_EQ(trackNameFromStem("Moby - Porcelain").title, "Porcelain");
    EXPECT_EQ(trackNameFromStem("A - B - Remix").title, "B - Remix");
    for (const char* stem : {"Intro", "Artist-Title", " - Title", "Artist - ", "Artist -Title"}) {
        EXPECT_EQ(trackNameFromStem(stem).artist, "Unknown Artist") << stem;
        EXPECT_EQ(trackNameFromStem(stem).title, stem);
    }
}

TEST(LibraryLoad, ListsVisibleRegularFilesInByteOrderWithIdsFromOne) {
    TempDir root;
    for (const char* path : {"b.mp3", "a/z.mp3", "A.mp3", "Ärger - Zorn.flac", ".hidden.mp3", ".cache/x.mp3",
                             "a/.DS_Store", "a/.deep/y.mp3"})
        DevServer::writeFile(root.path() + "/" + path, path);
    std::filesystem::create_directories(root.path() + "/empty/folder");

    const Library library = load(root.path());

    // Byte order: 'A' (0x41) < 'a' (0x61) < 'b' < 'Ä' (0xC3 0x84).
    EXPECT_EQ(pathsOf(library), (std::vector<std::string>{"A.mp3", "a/z.mp3", "b.mp3", "Ärger - Zorn.flac"}));
    for (std::size_t i = 0; i < library.tracks().size(); ++i) EXPECT_EQ(library.tracks()[i].id, long(i + 1));
    EXPECT_EQ(library.find(2)->filename, "z.mp3");
    EXPECT_EQ(library.find(4)->artist, "Ärger");
    EXPECT_EQ(library.find(4)->title, "Zorn");
    EXPECT_EQ(library.find(0), nullptr);
    EXPECT_EQ(library.find(5), nullptr);
}

TEST(LibraryLoad, DigestAndSizeMatchTheBytesAcrossBlockBoundaries) {
    TempDir root;
    const std::string big = patternBytes(2 * 1024 * 1024 + 17, 1);  // three 1 MiB reads
    const std::string exact = patternBytes(1024 * 1024, 2);          // ends on a block boundary
    DevServer::writeFile(root.path() + "/big.bin", big);
    DevServer::writeFile(root.path() + "/exact.bin", exact);
    DevServer::writeFile(root.path() + "/none.bin", "");

    const Library library = load(root.path());

    ASSERT_EQ(library.tracks().size(), 3u);
    const std::string contents[] = {big, exact, ""};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(library.tracks()[i].sha256, sha256Hex(contents[i])) << library.tracks()[i].relativePath;
        EXPECT_EQ(library.tracks()[i].byteSize, contents[i].size());
    }
}

TEST(LibraryLoad, LeavesOutNamesThatAreNotUtf8AndSaysSo) {
    TempDir root;
    DevServer::writeFile(root.path() + "/bad\xff name.mp3", "x");
    DevServer::writeFile(root.path() + "/good.mp3", "y");
    std::vector<std::string> warnings;

    const Library library = load(root.path(), &warnings);

    EXPECT_EQ(pathsOf(library), std::vector<std::string>{"good.mp3"});
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("not UTF-8"), std::string::npos);
}

TEST(SampleLibrary, PlanIsRepeatableSpreadOverFoldersAndWithinSizeBounds) {
    const std::vector<SampleTrack> plan = planSampleLibrary(12);
    ASSERT_EQ(plan.size(), 12u);
    std::set<std::string> folders, paths;
    bool nonAscii = false;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const SampleTrack& track = plan[i];
        EXPECT_EQ(track.relativePath, planSampleLibrary(12)[i].relativePath);
        EXPECT_EQ(track.byteSize, planSampleLibrary(12)[i].byteSize);
        EXPECT_GE(track.byteSize, kSampleMinBytes);
        EXPECT_LE(track.byteSize, kSampleMaxBytes);
        folders.insert(track.relativePath.substr(0, track.relativePath.find('/')));
        paths.insert(track.relativePath);
        for (unsigned char c : track.relativePath) nonAscii = nonAscii || c >= 0x80;
        EXPECT_EQ(trackNameFromStem(std::filesystem::path(track.relativePath).stem().string()).artist.substr(0, 7),
                  "Artist ");
    }
    EXPECT_GE(folders.size(), 2u);
    EXPECT_LE(folders.size(), 3u);
    EXPECT_EQ(paths.size(), plan.size()) << "sample names must not collide";
    EXPECT_TRUE(nonAscii);
    EXPECT_TRUE(std::set<std::uint64_t>({plan[0].byteSize, plan[1].byteSize, plan[2].byteSize}).size() > 1)
        << "sizes should vary with the index";
}

TEST(SampleLibrary, WrittenBytesDependOnlyOnTheTrackIndex) {
    TempDir first, second;
    const std::vector<SampleTrack> plan = planSampleLibrary(2);
    writeSampleLibrary(first.path(), plan);
    writeSampleLibrary(second.path(), plan);

    const Library one = load(first.path());
    const Library two = load(second.path());

    ASSERT_EQ(one.tracks().size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(one.tracks()[i].sha256, two.tracks()[i].sha256);
        EXPECT_EQ(one.tracks()[i].byteSize, plan[i].byteSize);
    }
    EXPECT_NE(one.tracks()[0].sha256, one.tracks()[1].sha256);
}

TEST(SampleLibrary, OnlyAnEmptyOrMissingFolderCountsAsEmpty) {
    TempDir root;
    EXPECT_TRUE(isEmptyOrMissing(root.path()));
    EXPECT_TRUE(isEmptyOrMissing(root.path() + "/missing"));
    std::filesystem::create_directory(root.path() + "/.git");
    EXPECT_FALSE(isEmptyOrMissing(root.path()));
}

}  // namespace
}  // namespace spinforge::devserver
