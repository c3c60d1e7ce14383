#pragma once
// The digest test of pack.dat and pack.inc: the expected MD5 of a patch against the game's
// own, from wherever the run has it. A mismatch ends the run before anything reaches the
// destination.

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

struct TKeySearch;
class TRunContext;

/// pack.dat's MD5 read straight from the image on a thread of its own, while the run goes on;
/// an encrypted image is read through a decryption of its own. Stopped and joined when
/// released.
class TBackgroundDigest {
public:
    TBackgroundDigest(const QString& image_path, const QString& image_kind, bool encrypted,
                      const TKeySearch& search, std::uint64_t offset, std::uint64_t size);
    ~TBackgroundDigest();
    TBackgroundDigest(const TBackgroundDigest&) = delete;
    TBackgroundDigest& operator=(const TBackgroundDigest&) = delete;
    /// Waits for the digest; empty when the bytes could not be read.
    QString Wait();
    /// After Wait: why the bytes could not be read (a damaged compressed image), or empty.
    QString Failure() const;

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

/// Where a digest test takes the game's digest from. Each way of taking it is one value of
/// this type, and TakeDigest the one place that takes it.
struct TDigestSource {
    enum class TFrom {
        File,      // a file below the program folder, unless the source's check remembered it
        Known,     // already taken (as pack.dat came out of the image)
        Background // being taken on a thread of its own
    };
    TFrom From = TFrom::File;
    QString Path;                            // File: relative to the program folder
    QString Digest;                          // Known
    TBackgroundDigest* Background = nullptr; // Background: not owned

    static TDigestSource File(const QString& relative_path) {
        return {TFrom::File, relative_path, QString(), nullptr};
    }
    static TDigestSource Known(const QString& digest) {
        return {TFrom::Known, QString(), digest, nullptr};
    }
    static TDigestSource Pending(TBackgroundDigest& background) {
        return {TFrom::Background, QString(), QString(), &background};
    }
};

/// The digest of pack.dat (`pack_dat`) or pack.inc taken when the source was chosen (waiting
/// for that check if it still runs), while the source is unchanged since; empty when there is
/// none.
QString RememberedDigest(const TRunContext& run, bool pack_dat);

/// The digest from `source`; none when its bytes cannot be read.
std::optional<QString> TakeDigest(const TRunContext& run, const TDigestSource& source,
                                  bool pack_dat);

/// The digest test of pack.dat (`pack_dat`) or pack.inc: its entries, then the end of the
/// run on a mismatch or when the digest cannot be taken.
void CheckDigest(TRunContext& run, const QString& expected, bool pack_dat,
                 const TDigestSource& source);

/// The entries of a digest test whose digest is known, and the end of the run on a mismatch.
void JudgeDigest(TRunContext& run, const QString& expected, const QString& digest);
