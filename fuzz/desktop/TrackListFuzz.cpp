// libFuzzer target for the track list file: the bytes are a patch folder's track list, read
// against a small image whose INFO partition holds the same bytes as slot ids; the slot plan
// and the music window's row captions are made from it.

#include "../ctr/Scratch.h"
#include "desktop/FileTools.h"
#include "desktop/Language.h"
#include "desktop/TrackList.h"

#include <QByteArray>
#include <QString>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path folder = fuzz::FreshFolder("patch");
    fuzz::WriteInput(data, size, "patch/TRACKLIST.TLS");
    std::string image = "INFO";
    image.append(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path source = fuzz::WriteInput(
        reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), "image.3ds");

    const TTrackList tracks(FromPath(source), FromPath(folder), 0, QString());
    if (tracks.GetTrackCount() > kMaxTracks)
        std::abort();
    if (tracks.Status() == TTrackListStatus::Ok)
        (void)PlanSlotWrites(tracks);
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (TrackGroupNames(DecodeTextFile(bytes, false)).size() != 11)
        std::abort();
    return 0;
}
