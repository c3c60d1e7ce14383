// MD5 as the digests of the game's data archive take it.

#include "CtrTestSupport.h"

#include "ctr/Hash.h"

#include <gtest/gtest.h>

namespace {

TEST(Hash, Md5KnownAnswersWholeAndInPieces) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& [text, digest] : cases) {
        const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        ctr::TMd5 whole;
        whole.Update(bytes);
        EXPECT_EQ(ctr::HexUpper(whole.Final()), digest) << text;
        ctr::TMd5 pieces;
        for (std::size_t i = 0; i < bytes.size(); i += 7)
            pieces.Update(bytes.subspan(i, std::min<std::size_t>(7, bytes.size() - i)));
        EXPECT_EQ(ctr::HexUpper(pieces.Final()), digest) << text;
    }
}

} // namespace
