#include "engine/DigestStage.h"

#include "ctr/FileIo.h"
#include "ctr/SourceImage.h"
#include "engine/RunContext.h"

#include <algorithm>
#include <cctype>

namespace engine {

namespace {

constexpr const char* kCrLf = "\r\n";

} // namespace

bool SameDigest(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

std::string RememberedDigest(const TRunContext& run, bool pack_dat) {
    return run.RememberedDigest(pack_dat);
}

std::optional<std::string> TakeDigest(const TRunContext& run, const TDigestSource& source,
                                      bool pack_dat) {
    switch (source.From) {
    case TDigestSource::TFrom::Known:
        return source.Digest;
    case TDigestSource::TFrom::Background: {
        const std::string digest = source.Background->Wait();
        if (digest.empty())
            return std::nullopt;
        return digest;
    }
    case TDigestSource::TFrom::File:
        break;
    }
    // The digests taken when the image was chosen serve while the image is unchanged: the
    // file unpacked from it holds the same bytes, which need not be read once more.
    const std::string remembered = RememberedDigest(run, pack_dat);
    if (!remembered.empty())
        return remembered;
    try {
        ctr::TInFile file(run.Job.ProgramFolder / source.Path);
        return ctr::TakeDigests(file, {{0, file.Size(), {}}})[0];
    } catch (const ctr::TCtrError&) {
        return std::nullopt;
    }
}

void CheckDigest(TRunContext& run, const std::string& expected, bool pack_dat,
                 const TDigestSource& source) {
    run.LogKey(pack_dat ? "CheckingMD5PackDat" : "CheckingMD5PackInc");
    const std::optional<std::string> digest = TakeDigest(run, source, pack_dat);
    if (!digest) {
        // What kept the bytes from being read, when known, on a line of its own.
        const std::string reason = source.From == TDigestSource::TFrom::Background
                                       ? source.Background->Failure()
                                       : std::string();
        // pack.dat's failure stands a line further down than pack.inc's.
        if (pack_dat)
            run.LogFramed(kCrLf + run.Text("ErrorCheckingMD5PackDat") +
                          (reason.empty() ? std::string() : kCrLf + reason));
        else
            run.LogFramed(run.Text("ErrorCheckingMD5PackInc"));
        run.EndRun();
    }
    JudgeDigest(run, expected, *digest);
}

void JudgeDigest(TRunContext& run, const std::string& expected, const std::string& digest) {
    run.Log("Orig MD5: " + expected);
    run.Log("This MD5: " + digest);
    if (SameDigest(expected, digest))
        run.LogKey("MD5Matched");
    else
        run.Fail("MD5NotMatched");
}

} // namespace engine
