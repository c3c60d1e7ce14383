#include "engine/VoiceAndMusic.h"

#include "ctr/FileIo.h"
#include "ctr/Platform.h"
#include "engine/Folders.h"
#include "engine/TrackList.h"
#include "sound_archive/FileBasics.h"
#include "sound_archive/N3DSbcsar.h"
#include "sound_archive/PieceFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace engine {

namespace fs = std::filesystem;

namespace {

// The voice folders of a patch, by voice choice.
const char* const kVoiceFolders[] = {"ENG", "JAP MOD", "JAP ORIG"};

// A path in a message: with the system's own separators.
std::string Native(fs::path path) {
    return ctr::PathToUtf8(path.make_preferred());
}

[[noreturn]] void FailOn(const fs::path& path, const std::string& reason) {
    throw TSystemError(0, Native(path) + ": " + reason);
}

bcsar::TByteBuffer ReadWholeFile(const fs::path& path) {
    bcsar::TByteBuffer bytes;
    int error_number = 0;
    if (!bcsar::AppendFileTo(bytes, path, &error_number))
        FailOn(path, std::strerror(error_number));
    return bytes;
}

// Replaces the file in one step: the bytes go to a file beside it that then takes its name,
// so a failed write leaves the old content in place. The files of tools/temp are scratch
// files: they are not forced to the disk.
void WriteWholeFile(const fs::path& path, std::span<const std::uint8_t> bytes) {
    fs::path temporary = path;
    temporary += ".new";
    errno = 0;
    std::FILE* file = ctr::OpenFile(temporary, "wb");
    if (!file)
        FailOn(path, std::strerror(errno != 0 ? errno : EIO));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0; // a deferred write error (a full disk) shows here
    if (!written || !closed) {
        const int error_number = errno != 0 ? errno : EIO;
        std::error_code ec;
        fs::remove(temporary, ec);
        FailOn(path, std::strerror(error_number));
    }
    try {
        ctr::RenameOver(temporary, path);
    } catch (const ctr::TCtrError& error) {
        std::error_code ec;
        fs::remove(temporary, ec);
        FailOn(path, error.what());
    }
}

} // namespace

const char* VoiceFolderName(int voice) {
    return kVoiceFolders[voice >= 0 && voice < 3 ? voice : 0];
}

int ApplyVoiceAndMusic(const fs::path& program_folder, const TVoiceAndMusicChoice& choice,
                       const TLogEntry& log_entry, const TLookup& lookup,
                       const fs::path& patch_folder) {
    const auto log = [&](std::u16string_view key) { log_entry(lookup(key)); };
    const fs::path sound = program_folder / "tools/temp/romfs/sound";
    const fs::path archive = sound / "QK123.bcsar";
    const fs::path work = sound / "QK123_temp";
    const fs::path clip_target = work / "4_CSAR_FILE/3_CWAR";
    const fs::path info_piece = work / "3_CSAR_INFO.bin";

    // 1. The work folder; one left by an interrupted run is not reused.
    std::error_code ec;
    if (!fs::create_directory(work, ec) || ec) {
        log(u"ErrorFolderCreate");
        return 1;
    }
    const auto fail = [&](std::u16string_view key) {
        log(key);
        DeleteFolder(work);
        return 1;
    };

    // 2, 3. The archive, read once and unpacked into pieces.
    {
        bcsar::TByteBuffer stream;
        if (!bcsar::AppendFileTo(stream, archive))
            return fail(u"WarningLoadingBcsar");
        if (UnpackBcsar(stream, work, 0, false) == -1)
            return fail(u"WarningLoadingBcsar");
    }

    // 5. Voice clips: the chosen folder merges into the unpacked clips, replacing same names.
    if (!choice.NoVoiceChoice && !patch_folder.empty()) {
        log(u"ApplyingVoice");
        fs::path source = FindEntryNoCase(patch_folder, "voice");
        source = FindEntryNoCase(source, VoiceFolderName(choice.Voice));
        source = FindEntryNoCase(source, "3_BCWAV");
        if (!fs::is_directory(source, ec) || !CopyFolder(source, clip_target))
            return fail(u"WarningCopyingSoundFiles");
        log(u"Done");
    }

    // 6. Music slots, written into the INFO piece at their offsets.
    const TTrackList* tracks = choice.Tracks;
    if (tracks != nullptr && tracks->GetChanged()) {
        bcsar::TByteBuffer info = ReadWholeFile(info_piece);
        const std::int64_t needed = kMusicSlotOffsets[kMusicSlotCount - 1] + kTrackIdLength;
        if (static_cast<std::int64_t>(info.size()) < needed)
            return fail(u"WarningLoadingBcsar"); // not the game's archive: no slot table there
        log(u"ChangingMusic");
        const TSlotPlan plan = PlanSlotWrites(*tracks);
        for (const TText& text : plan.UnknownTexts)
            log_entry(lookup(u"WarningUnknownTrack") + u"\r\n" + text);
        for (const TSlotWrite& write : plan.Writes)
            std::copy(write.Id.begin(), write.Id.end(),
                      info.begin() + static_cast<std::ptrdiff_t>(write.Offset));
        log(u"Done");
        WriteWholeFile(info_piece, info);
    }

    // 7, 8. Pack and write back over the archive.
    bcsar::TByteBuffer packed;
    if (PackBcsar(packed, work, false) == -1)
        return fail(u"WarningPackingBcsar");
    WriteWholeFile(archive, packed);

    // 9.
    DeleteFolder(work);
    return 0;
}

} // namespace engine
