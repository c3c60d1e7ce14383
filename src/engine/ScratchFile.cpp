#include "engine/ScratchFile.h"

#include <system_error>

namespace engine {

void TDiskScratch::Open() {
    if (m_out)
        return;
    m_out = std::make_unique<ctr::TOutFile>(m_path);
    m_out->MarkScratch();
}

void TDiskScratch::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (m_closed)
        throw ctr::TCtrError("the scratch file " + ctr::PathText(m_path) + " is closed");
    Open();
    m_out->Seek(offset);
    m_out->Write(bytes);
}

std::filesystem::path TDiskScratch::Close(std::uint64_t size) {
    Open();
    if (m_out->End() != size)
        throw ctr::TCtrError("the scratch file " + ctr::PathText(m_path) + " is not whole");
    m_out->Commit();
    m_out.reset();
    m_closed = true;
    return m_path;
}

void TDiskScratch::Remove() {
    // A file never committed goes with its TOutFile; a committed one is removed here.
    m_out.reset();
    std::error_code ignored;
    if (m_closed)
        std::filesystem::remove(m_path, ignored);
    m_closed = false;
}

} // namespace engine
