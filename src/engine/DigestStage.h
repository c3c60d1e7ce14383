#pragma once
// The digest test of pack.dat and pack.inc: the expected MD5 of a patch against the game's
// own, from wherever the run has it. A mismatch ends the run before anything reaches the
// destination.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ctr {
class TDecryptingReader;
} // namespace ctr

namespace engine {

class TRunContext;

/// pack.dat's MD5 read straight from the image on a thread of its own, while the run goes on;
/// an encrypted image is read through the decryption `open_decryption` gives (on that thread;
/// empty for an image that is not encrypted). Stopped and joined when released. Not in the
/// browser's build, which starts no threads.
class TBackgroundDigest {
public:
    using TOpenDecryption = std::function<std::unique_ptr<ctr::TDecryptingReader>()>;
    TBackgroundDigest(std::filesystem::path image, TOpenDecryption open_decryption,
                      std::uint64_t offset, std::uint64_t size);
    ~TBackgroundDigest();
    TBackgroundDigest(const TBackgroundDigest&) = delete;
    TBackgroundDigest& operator=(const TBackgroundDigest&) = delete;
    /// Waits for the digest; empty when the bytes could not be read.
    std::string Wait();
    /// After Wait: why the bytes could not be read (a damaged compressed image), or empty.
    std::string Failure() const;

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
    std::filesystem::path Path;              // File: relative to the program folder
    std::string Digest;                      // Known
    TBackgroundDigest* Background = nullptr; // Background: not owned

    static TDigestSource File(std::filesystem::path relative_path) {
        return {TFrom::File, std::move(relative_path), std::string(), nullptr};
    }
    static TDigestSource Known(std::string digest) {
        return {TFrom::Known, std::filesystem::path(), std::move(digest), nullptr};
    }
    static TDigestSource Pending(TBackgroundDigest& background) {
        return {TFrom::Background, std::filesystem::path(), std::string(), &background};
    }
};

/// The digest of pack.dat (`pack_dat`) or pack.inc taken when the source was chosen, as the
/// host remembers it (TRunCallbacks::RememberedDigest); empty when there is none.
std::string RememberedDigest(const TRunContext& run, bool pack_dat);

/// The digest from `source`; none when its bytes cannot be read.
std::optional<std::string> TakeDigest(const TRunContext& run, const TDigestSource& source,
                                      bool pack_dat);

/// The digest test of pack.dat (`pack_dat`) or pack.inc: its entries, then the end of the
/// run on a mismatch or when the digest cannot be taken.
void CheckDigest(TRunContext& run, const std::string& expected, bool pack_dat,
                 const TDigestSource& source);

/// True when two digests in hexadecimal are the same: description files write them in either
/// letter case.
bool SameDigest(const std::string& a, const std::string& b);

/// The entries of a digest test whose digest is known, and the end of the run on a mismatch.
void JudgeDigest(TRunContext& run, const std::string& expected, const std::string& digest);

} // namespace engine
