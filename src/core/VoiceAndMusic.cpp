#include "core/VoiceAndMusic.h"

#include "core/FileTools.h"
#include "core/Language.h"
#include "core/TrackList.h"
#include "sound_archive/N3DSbcsar.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The voice folders of a patch, by voice choice.
const char* const kVoiceFolders[] = {"ENG", "JAP MOD", "JAP ORIG"};

QByteArray ReadWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TSystemError(0, QDir::toNativeSeparators(path) + QStringLiteral(": ") +
                                  file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw TSystemError(0, QDir::toNativeSeparators(path) + QStringLiteral(": ") +
                                  file.errorString());
    return bytes;
}

// Replaces the file in one step: a failed write leaves the old content in place.
void WriteWholeFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw TSystemError(0, QDir::toNativeSeparators(path) + QStringLiteral(": ") +
                                  file.errorString());
}

} // namespace

int ApplyVoiceAndMusic(const QString& program_folder, const TVoiceAndMusicChoice& choice,
                       const std::function<void(const QString& entry)>& log_entry,
                       const TLanguageTable& language, const QString& patch_folder) {
    const auto log = [&](const char* key) { log_entry(language.Lookup(QString::fromLatin1(key))); };
    const QString root = WithTrailingSeparator(program_folder);
    const QString archive = root + QStringLiteral("tools/temp/romfs/sound/QK123.bcsar");
    const QString work = root + QStringLiteral("tools/temp/romfs/sound/QK123_temp");
    const QString clip_target = work + QStringLiteral("/4_CSAR_FILE/3_CWAR");
    const QString info_piece = work + QStringLiteral("/3_CSAR_INFO.bin");

    // 1. The work folder; one left by an interrupted run is not reused.
    if (!QDir().mkdir(work)) {
        log("ErrorFolderCreate");
        return 1;
    }
    const auto fail = [&](const char* key) {
        log(key);
        DeleteFolder(work);
        return 1;
    };

    // 2, 3. The archive, read once and unpacked into pieces.
    QByteArray stream;
    {
        QFile file(archive);
        if (!file.open(QIODevice::ReadOnly))
            return fail("WarningLoadingBcsar");
        stream = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return fail("WarningLoadingBcsar");
    }
    if (UnpackBcsar(ByteSpan(stream), ToPath(work), 0, false) == -1)
        return fail("WarningLoadingBcsar");
    stream.clear();

    // 5. Voice clips: the chosen folder merges into the unpacked clips, replacing same names.
    if (!choice.NoVoiceChoice && !patch_folder.isEmpty()) {
        log("ApplyingVoice");
        const int voice = choice.Voice >= 0 && choice.Voice < 3 ? choice.Voice : 0;
        QString source = FindEntryNoCase(patch_folder, QStringLiteral("voice"));
        source = FindEntryNoCase(source, QString::fromLatin1(kVoiceFolders[voice]));
        source = FindEntryNoCase(source, QStringLiteral("3_BCWAV"));
        if (!QFileInfo(source).isDir() || !CopyFolder(source, clip_target))
            return fail("WarningCopyingSoundFiles");
        log("Done");
    }

    // 6. Music slots, written into the INFO piece at their offsets.
    const TTrackList* tracks = choice.Tracks;
    if (tracks != nullptr && tracks->GetChanged()) {
        QByteArray info = ReadWholeFile(info_piece);
        const std::int64_t needed = kMusicSlotOffsets[kMusicSlotCount - 1] + kTrackIdLength;
        if (info.size() < needed)
            return fail("WarningLoadingBcsar"); // not the game's archive: no slot table there
        log("ChangingMusic");
        const TSlotPlan plan = PlanSlotWrites(*tracks);
        for (const QString& text : plan.UnknownTexts)
            log_entry(language.Lookup(QStringLiteral("WarningUnknownTrack")) + kCrLf + text);
        for (const TSlotWrite& write : plan.Writes)
            info.replace(static_cast<qsizetype>(write.Offset), write.Id.size(), write.Id);
        log("Done");
        WriteWholeFile(info_piece, info);
    }

    // 7, 8. Pack and write back over the archive.
    std::vector<std::uint8_t> packed;
    if (PackBcsar(packed, ToPath(work), false) == -1)
        return fail("WarningPackingBcsar");
    WriteWholeFile(archive, QByteArray(reinterpret_cast<const char*>(packed.data()),
                                       static_cast<qsizetype>(packed.size())));

    // 9.
    DeleteFolder(work);
    return 0;
}
