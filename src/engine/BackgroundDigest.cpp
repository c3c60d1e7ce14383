// pack.dat's digest on a thread of its own. Not in the browser's build.
#include "engine/DigestStage.h"

#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/SourceImage.h"
#include "ctr/Z3ds.h"

#include <atomic>
#include <thread>

namespace engine {

struct TBackgroundDigest::TState {
    std::atomic<bool> Stop{false};
    std::string Digest; // empty when the bytes could not be read
    std::string Failure;
    std::thread Thread;
};

TBackgroundDigest::TBackgroundDigest(std::filesystem::path image_path,
                                     TOpenDecryption open_decryption, std::uint64_t offset,
                                     std::uint64_t size)
    : m_state(std::make_unique<TState>()) {
    m_state->Thread = std::thread([state = m_state.get(), path = std::move(image_path),
                                   open = std::move(open_decryption), offset, size] {
        try {
            const std::unique_ptr<ctr::TInFile> opened = ctr::OpenImageFile(path);
            ctr::TInFile& image = *opened;
            std::unique_ptr<ctr::TDecryptingReader> decrypting;
            if (open) {
                decrypting = open();
                decrypting->Serve(image);
            }
            // Stopped when released: the pass then ends with "the check was cancelled", which
            // nobody waits for.
            ctr::TProgress stop{
                [state](std::uint64_t, std::uint64_t) { return !state->Stop.load(); }, 0, 0};
            state->Digest = ctr::TakeDigests(image, {{offset, size, {}}}, &stop)[0];
        } catch (const std::exception& error) {
            state->Failure = error.what();
        }
    });
}

TBackgroundDigest::~TBackgroundDigest() {
    m_state->Stop.store(true);
    if (m_state->Thread.joinable())
        m_state->Thread.join();
}

std::string TBackgroundDigest::Wait() {
    if (m_state->Thread.joinable())
        m_state->Thread.join();
    return m_state->Digest;
}

std::string TBackgroundDigest::Failure() const {
    return m_state->Failure;
}

} // namespace engine
