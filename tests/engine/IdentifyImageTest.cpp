// Identification without Qt as every front end makes it (the browser's build serves the
// user's file to it), and the pack digests of the identified image.

#include "CtrTestSupport.h"

#include "ctr/Decrypt.h"
#include "ctr/SourceImage.h"
#include "engine/Identify.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;
using ctr::TImageKind;
using ctr_test::TTempDir;

std::string DescriptionValue(const fs::path& file, const std::string& key) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + " = ", 0) == 0)
            return line.substr(key.size() + 3, 32);
    return {};
}

TEST(SourceImage, IdentifiesEveryFormAndRefusesOthers) {
    const TTempDir dir;
    const fs::path qvtsample =
        ctr_test::ToolPath("ctrtool").parent_path().parent_path() / "qvtsample";
    const auto sample = [&](const std::string& name, std::vector<std::string> args) {
        args.insert(args.end(), {"--region", "EUR", "--pack-size", "300001", "--out", name});
        ASSERT_EQ(ctr_test::Run(qvtsample, args, dir.Path()), 0) << name;
    };
    sample("game.cia", {"--kind", "cia", "--patch", "patch"});
    sample("game.zcci", {"--kind", "3ds", "--compress"});
    sample("game.bin", {"--kind", "cxi"});
    sample("other.cia", {"--kind", "cia", "--title-low", "00012300"});
    sample("scrambled.cxi", {"--kind", "cxi", "--encrypted"});
    sample("locked.zcia",
           {"--kind", "cia", "--encrypt", "keys", "--keys", "keys.txt", "--compress"});
    ctr_test::WriteBytes(dir / "zero.3ds", std::vector<std::uint8_t>(0x4000));

    struct TCase {
        std::string Name;
        std::optional<TImageKind> Kind;
        bool Compressed, ByContent, Encrypted;
        std::string Region, ErrorKey;
    };
    const TCase cases[] = {
        {"game.cia", TImageKind::Cia, false, false, false, "EUR", ""},
        {"game.zcci", TImageKind::Cci, true, false, false, "EUR", ""},
        {"game.bin", TImageKind::Cxi, false, true, false, "EUR", ""},
        {"other.cia", TImageKind::Cia, false, false, false, "", "ErrorWrongROM"},
        {"scrambled.cxi", TImageKind::Cxi, false, false, true, "", ""},
        {"zero.3ds", std::nullopt, false, false, false, "", "ErrorNOT3DSROM"},
    };
    const std::string wanted =
        DescriptionValue(dir / "patch" / "English.dsc", "OriginalPackDatMD5");
    ASSERT_EQ(wanted.size(), 32u);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const engine::TIdentity found = engine::IdentifyImage(dir / c.Name, c.Name, {});
        EXPECT_EQ(found.Kind, c.Kind);
        EXPECT_EQ(found.Compressed, c.Compressed);
        EXPECT_EQ(found.KindByContent, c.ByContent);
        EXPECT_EQ(found.Encrypted, c.Encrypted);
        EXPECT_EQ(found.Region, c.Region);
        EXPECT_EQ(found.ErrorKey, c.ErrorKey);
        EXPECT_EQ(found.TitleId.has_value(), c.Kind.has_value());
        if (found.Usable()) {
            EXPECT_EQ(ctr::TakePackDigestText(dir / c.Name, *found.Kind).PackDat, wanted);
        }
        // Served as the browser serves the user's file, it is the same image.
        const std::vector<std::uint8_t> bytes = ctr_test::ReadBytes(dir / c.Name);
        const fs::path served = "/served/" + c.Name;
        ctr::ServeFile(served, bytes.size(),
                       [&](std::uint64_t offset, std::span<std::uint8_t> out) {
                           std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                       out.size(), out.begin());
                       });
        const engine::TIdentity by_serving = engine::IdentifyImage(served, c.Name, {});
        ctr::StopServingFile(served);
        EXPECT_EQ(by_serving.Kind, c.Kind);
        EXPECT_EQ(by_serving.Compressed, c.Compressed);
        EXPECT_EQ(by_serving.Region, c.Region);
    }

    // An encrypted image opens through the reader of the user's keys, and stays refused
    // without them; a CIA's title ID comes from its TMD either way.
    ctr::TCryptoKeys keys;
    keys.Keys = ctr::ReadKeyFile(dir / "keys.txt");
    const auto through = [&](const ctr::TCryptoKeys& given) {
        return [&given, &dir](TImageKind kind) {
            return std::make_unique<ctr::TDecryptingReader>(dir / "locked.zcia", kind, given);
        };
    };
    const engine::TIdentity locked = engine::IdentifyImage(dir / "locked.zcia", "locked.zcia", {});
    EXPECT_TRUE(locked.Encrypted);
    EXPECT_FALSE(locked.Usable());
    const engine::TIdentity opened =
        engine::IdentifyImage(dir / "locked.zcia", "locked.zcia", through(keys));
    ASSERT_TRUE(opened.Usable());
    EXPECT_TRUE(opened.KeysFound);
    EXPECT_EQ(opened.TitleId, locked.TitleId);
    EXPECT_EQ(ctr::TakePackDigestText(dir / "locked.zcia", TImageKind::Cia, nullptr, &keys).PackDat,
              wanted);
    const ctr::TCryptoKeys none;
    EXPECT_THROW(through(none)(TImageKind::Cia), ctr::TCtrError);
}

TEST(SourceImage, AServedFileReadsAsTheFileAndAFailingReadIsReported) {
    const TTempDir dir;
    const fs::path qvtsample =
        ctr_test::ToolPath("ctrtool").parent_path().parent_path() / "qvtsample";
    ASSERT_EQ(ctr_test::Run(qvtsample,
                            {"--kind", "3ds", "--region", "JAP", "--compress", "--pack-size",
                             "300001", "--out", "game.zcci"},
                            dir.Path()),
              0);
    const std::vector<std::uint8_t> bytes = ctr_test::ReadBytes(dir / "game.zcci");
    const fs::path served = "/served/by/memory";
    bool fail = false;
    ctr::ServeFile(served, bytes.size(), [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        if (fail)
            throw ctr::TCtrError("refused");
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    });
    const engine::TIdentity found = engine::IdentifyImage(served, "game.zcci", {});
    EXPECT_TRUE(found.Usable());
    EXPECT_EQ(found.Region, "JAP");
    EXPECT_EQ(ctr::TakePackDigestText(served, TImageKind::Cci).PackDat,
              ctr::TakePackDigestText(dir / "game.zcci", TImageKind::Cci).PackDat);
    // A file the browser no longer reads cannot be opened, like a file gone from the disk.
    fail = true;
    EXPECT_EQ(engine::IdentifyImage(served, "game.zcci", {}).ErrorKey, "ErrorLoadingROM");
    EXPECT_THROW(ctr::TakePackDigestText(served, TImageKind::Cci), ctr::TCtrError);
    ctr::StopServingFile(served);
    EXPECT_EQ(engine::IdentifyImage(served, "game.zcci", {}).ErrorKey, "ErrorLoadingROM");
}

} // namespace
