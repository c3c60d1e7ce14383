#include "core/DigestStage.h"

#include "core/Decryption.h"
#include "core/FileTools.h"
#include "core/FitCheck.h"
#include "core/RunContext.h"
#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/SourceImage.h"
#include "ctr/Z3ds.h"

#include <algorithm>
#include <span>
#include <thread>
#include <vector>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

} // namespace

struct TBackgroundDigest::TState {
    std::atomic<bool> Stop{false};
    QString Digest; // empty when the bytes could not be read
    QString Failure;
    std::thread Thread;
};

TBackgroundDigest::TBackgroundDigest(const QString& image_path, const QString& image_kind,
                                     bool encrypted, const TKeySearch& search, std::uint64_t offset,
                                     std::uint64_t size)
    : m_state(std::make_unique<TState>()) {
    m_state->Thread = std::thread([state = m_state.get(), path = image_path, kind = image_kind,
                                   encrypted, search, offset, size] {
        try {
            const std::unique_ptr<ctr::TInFile> opened = ctr::OpenImageFile(ToPath(path));
            ctr::TInFile& image = *opened;
            std::unique_ptr<ctr::TDecryptingReader> decrypting;
            if (encrypted) {
                decrypting = OpenDecryptingSource(path, kind, search);
                decrypting->Serve(image);
            }
            // Stopped when released: the pass then ends with "the check was cancelled", which
            // nobody waits for.
            ctr::TProgress stop{
                [state](std::uint64_t, std::uint64_t) { return !state->Stop.load(); }, 0, 0};
            state->Digest =
                QString::fromStdString(ctr::TakeDigests(image, {{offset, size, {}}}, &stop)[0]);
        } catch (const std::exception& error) {
            state->Failure = QString::fromUtf8(error.what());
        }
    });
}

TBackgroundDigest::~TBackgroundDigest() {
    m_state->Stop.store(true);
    if (m_state->Thread.joinable())
        m_state->Thread.join();
}

QString TBackgroundDigest::Wait() {
    if (m_state->Thread.joinable())
        m_state->Thread.join();
    return m_state->Digest;
}

QString TBackgroundDigest::Failure() const {
    return m_state->Failure;
}

QString RememberedDigest(const TRunContext& run, bool pack_dat) {
    // A check still reading the source is waited for: it reads the bytes the run would.
    const std::optional<TPackDigests> digests = AwaitPackDigests(run.ChosenSource);
    if (!digests)
        return QString();
    return pack_dat ? digests->PackDatMD5 : digests->PackIncMD5;
}

std::optional<QString> TakeDigest(const TRunContext& run, const TDigestSource& source,
                                  bool pack_dat) {
    switch (source.From) {
    case TDigestSource::TFrom::Known:
        return source.Digest;
    case TDigestSource::TFrom::Background: {
        const QString digest = source.Background->Wait();
        if (digest.isEmpty())
            return std::nullopt;
        return digest;
    }
    case TDigestSource::TFrom::File:
        break;
    }
    // The digests taken when the image was chosen serve while the image is unchanged: the
    // file unpacked from it holds the same bytes, which need not be read once more.
    const QString remembered = RememberedDigest(run, pack_dat);
    if (!remembered.isEmpty())
        return remembered;
    try {
        ctr::TInFile file(ToPath(run.Job.ProgramFolder + source.Path));
        return QString::fromStdString(ctr::TakeDigests(file, {{0, file.Size(), {}}})[0]);
    } catch (const ctr::TCtrError&) {
        return std::nullopt;
    }
}

void CheckDigest(TRunContext& run, const QString& expected, bool pack_dat,
                 const TDigestSource& source) {
    run.LogKey(pack_dat ? "CheckingMD5PackDat" : "CheckingMD5PackInc");
    const std::optional<QString> digest = TakeDigest(run, source, pack_dat);
    if (!digest) {
        // What kept the bytes from being read, when known, on a line of its own.
        const QString reason = source.From == TDigestSource::TFrom::Background
                                   ? source.Background->Failure()
                                   : QString();
        // pack.dat's failure stands a line further down than pack.inc's.
        if (pack_dat)
            run.LogFramed(kCrLf + run.Text("ErrorCheckingMD5PackDat") +
                          (reason.isEmpty() ? QString() : kCrLf + reason));
        else
            run.LogFramed(run.Text("ErrorCheckingMD5PackInc"));
        run.EndRun();
    }
    JudgeDigest(run, expected, *digest);
}

void JudgeDigest(TRunContext& run, const QString& expected, const QString& digest) {
    run.Log(QStringLiteral("Orig MD5: ") + expected);
    run.Log(QStringLiteral("This MD5: ") + digest);
    // Description files write digests in either case; a digest is the same in both.
    if (expected.compare(digest, Qt::CaseInsensitive) == 0)
        run.LogKey("MD5Matched");
    else
        run.Fail("MD5NotMatched");
}
