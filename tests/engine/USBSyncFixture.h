#pragma once
// A cached library and a registered drive, with the manifest that describes the library; no
// service is needed, since a drive sync only reads the cache.

#include "engine/EngineFixture.h"

namespace testing_support {

class USBSyncFixture : public EngineFixture {
protected:
    void SetUp() override {
        manifest.profile = {kProfileId, QStringLiteral("DJ Demo"), QStringLiteral("Demo Set")};
        volume = addDrive("DJSTICK");
    }
    // Adds a track to the manifest and, unless `inCache` is false, to the cache.
    spinforge::Track& addTrack(const QString& relativePath, const QByteArray& bytes, bool inCache = true) {
        if (inCache) writeBytes(cached(relativePath), bytes);
        manifest.tracks.append(trackOf(relativePath, bytes));
        return manifest.tracks.last();
    }
    qint64 sync() { return engine().syncUSB(volume, manifest); }
    QString playlist() const { return volume + QStringLiteral("/Spinforge \u2014 DJ Demo.m3u8"); }
    spinforge::Manifest manifest;
    QString volume;
};

}  // namespace testing_support
