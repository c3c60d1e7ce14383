// Encrypted sample images with made-up keys: decryption gives back the decrypted image, keys
// that do not fit are refused before anything is written, and slices decrypt on their own.

#include "SampleTestSupport.h"

#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/Decrypt.h"
#include "ctr/Ncsd.h"
#include "sample/SampleCrypt.h"

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>

using namespace sample_test;
namespace fs = std::filesystem;

namespace {

struct TCryptCase {
    const char* Kind;
    const char* Name;
    bool FixedKey;
    std::uint8_t Method;
    bool Seed;
    std::uint16_t NcchVersion = 2;
};

fs::path Path(const QString& path) {
    return fs::path(path.toStdU16String());
}

// Offsets where an encrypted-then-decrypted image may differ from the original: the seed
// check, and in a CIA the ticket's title key and common key index, and with a seed check the
// TMD's hashes of the content that now holds it.
std::vector<std::pair<std::uint64_t, std::uint64_t>>
AllowedDifferences(const fs::path& plain, ctr::TImageKind kind, bool seed) {
    ctr::TInFile in(plain);
    if (kind == ctr::TImageKind::Cxi)
        return {{0x114, 4}};
    if (kind == ctr::TImageKind::Cci)
        return {{0x1114, 4}, {ctr::ReadNcsdPartition0(in).Offset + 0x114, 4}};
    const ctr::TCiaLayout layout = ctr::ReadCia(in);
    return {{layout.TicketOffset + 0x1BF, 16},
            {layout.TicketOffset + 0x1F1, 1},
            {layout.TmdOffset, seed ? layout.TmdSize : 0},
            {layout.Contents.front().Offset + 0x114, 4}};
}

// The first offset where the files differ outside `allowed`, or nothing.
std::optional<std::uint64_t>
FirstDifference(const fs::path& a, const fs::path& b,
                const std::vector<std::pair<std::uint64_t, std::uint64_t>>& allowed) {
    ctr::TInFile left(a), right(b);
    if (left.Size() != right.Size())
        return std::min(left.Size(), right.Size());
    std::vector<std::uint8_t> x(ctr::CopyChunkSize), y(ctr::CopyChunkSize);
    for (std::uint64_t at = 0; at < left.Size(); at += x.size()) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(x.size(), left.Size() - at));
        left.ReadAt(at, std::span(x).first(length));
        right.ReadAt(at, std::span(y).first(length));
        for (std::size_t i = 0; i < length; ++i) {
            const bool masked = std::any_of(allowed.begin(), allowed.end(), [&](const auto& r) {
                return at + i >= r.first && at + i < r.first + r.second;
            });
            if (x[i] != y[i] && !masked)
                return at + i;
        }
    }
    return std::nullopt;
}

class SampleCryptTest : public ::testing::TestWithParam<TCryptCase> {
protected:
    // One decrypted sample per kind, shared by all rows.
    static void SetUpTestSuite() { s_plain = std::make_unique<QTemporaryDir>(); }
    static void TearDownTestSuite() { s_plain.reset(); }
    static fs::path Plain(const QString& kind) {
        const QString out = s_plain->filePath(QStringLiteral("plain.") + kind);
        if (!QFileInfo::exists(out)) {
            const TRunResult result =
                RunProgram(AppDir() + QStringLiteral("/qvtsample"),
                           {QStringLiteral("--kind"), kind, QStringLiteral("--region"),
                            QStringLiteral("EUR"), QStringLiteral("--out"), out,
                            QStringLiteral("--pack-size"), QStringLiteral("300001")});
            EXPECT_EQ(result.ExitCode, 0) << result.Output.toStdString();
        }
        return Path(out);
    }
    fs::path Temp(const char* name) const {
        return Path(m_dir.filePath(QString::fromLatin1(name)));
    }

    static std::unique_ptr<QTemporaryDir> s_plain;
    QTemporaryDir m_dir;
    std::mt19937_64 m_random{std::random_device{}()};
};

std::unique_ptr<QTemporaryDir> SampleCryptTest::s_plain;

TEST_P(SampleCryptTest, DecryptionRestoresTheImageAndWrongKeysAreRefused) {
    const TCryptCase row = GetParam();
    const QString kind_text = QString::fromLatin1(row.Kind);
    const ctr::TImageKind kind = *ctr::ImageKindFromText(row.Kind);
    fs::path plain = Plain(kind_text);
    if (row.NcchVersion != 2) {
        std::vector<std::uint8_t> bytes = ctr::ReadSmallFile(plain, 1u << 30, "image");
        bytes[0x112] = static_cast<std::uint8_t>(row.NcchVersion);
        plain = Temp("plain_version.cxi");
        ctr::WriteWholeFile(plain, bytes);
    }

    ctr::TCryptoKeys made_up = sample::MakeUpKeys(m_random());
    sample::TEncryption encryption;
    encryption.FixedKey = row.FixedKey;
    encryption.CryptoMethod = row.Method;
    encryption.CommonKeyIndex = static_cast<std::uint8_t>(m_random() % 6);
    for (std::uint8_t& byte : encryption.TitleKey)
        byte = static_cast<std::uint8_t>(m_random());
    if (row.Seed) {
        ctr::TSeed seed{};
        for (std::uint8_t& byte : seed)
            byte = static_cast<std::uint8_t>(m_random());
        encryption.Seed = seed;
    }
    const fs::path encrypted = Temp("encrypted");
    sample::EncryptImage(plain, kind, encrypted, encryption, made_up);
    sample::WriteKeyFiles(Temp("aes_keys.txt"), made_up);
    ASSERT_TRUE(FirstDifference(plain, encrypted, {}).has_value());
    EXPECT_TRUE(ctr::ImageIsEncrypted(encrypted, kind));

    // The keys as the user's files give them.
    ctr::TCryptoKeys keys;
    keys.Keys = ctr::ReadKeyFile(Temp("aes_keys.txt"));
    if (row.Seed)
        keys.Seeds = ctr::ReadSeedDb(Temp("seeddb.bin"));
    const fs::path decrypted = Temp("decrypted");
    ctr::DecryptImage(encrypted, kind, decrypted, keys);
    EXPECT_EQ(ctr::VerifyImage(decrypted, kind), "");
    const auto difference =
        FirstDifference(plain, decrypted, AllowedDifferences(plain, kind, row.Seed));
    EXPECT_FALSE(difference.has_value()) << "first difference at " << *difference;
    EXPECT_FALSE(ctr::ImageIsEncrypted(decrypted, kind));

    // Any slice read through the decrypting reader equals that slice of the whole.
    ctr::TDecryptingReader reader(encrypted, kind, keys);
    ctr::TInFile whole(decrypted);
    // (A CIA's TMD is left out: the reader does not know the new content hashes.)
    const std::uint64_t start =
        kind == ctr::TImageKind::Cia ? ctr::ReadCia(whole).ContentOffset : 0;
    for (int i = 0; i < 16; ++i) {
        const std::uint64_t length = 1 + m_random() % 70000;
        const std::uint64_t offset = start + m_random() % (whole.Size() - start - length);
        std::vector<std::uint8_t> slice(length);
        reader.Read(offset, slice);
        EXPECT_EQ(slice, whole.ReadVector(offset, length)) << offset << "+" << length;
    }

    // Made-up keys of another console: refused before an output exists.
    if (!row.FixedKey) {
        ctr::TCryptoKeys other = sample::MakeUpKeys(m_random());
        other.Seeds = keys.Seeds;
        const fs::path refused = Temp("refused");
        try {
            ctr::DecryptImage(encrypted, kind, refused, other);
            ADD_FAILURE() << "wrong keys accepted";
        } catch (const ctr::TCtrError& error) {
            EXPECT_STREQ(error.what(), ctr::KeysDoNotFitText);
        }
        EXPECT_FALSE(fs::exists(refused));
        EXPECT_THROW(ctr::DecryptImage(encrypted, kind, refused, ctr::TCryptoKeys{}),
                     ctr::TMissingKeyError);
    }
    if (row.Seed) {
        std::vector<std::uint8_t> database = keys.Seeds.Serialize();
        database[0x10 + 0x08] ^= 1; // the first record's seed
        ctr::TCryptoKeys wrong_seed = keys;
        wrong_seed.Seeds = ctr::ParseSeedDb(database);
        try {
            ctr::DecryptImage(encrypted, kind, Temp("refused"), wrong_seed);
            ADD_FAILURE() << "a wrong seed accepted";
        } catch (const ctr::TCtrError& error) {
            EXPECT_NE(std::string(error.what()).find("fails the header's seed check"),
                      std::string::npos)
                << error.what();
        }
    }

    // Damage under a key the extended header proved is damage; under the second key alone
    // it cannot be told from a wrong key X of that slot, which is then named.
    {
        ctr::TInFile in(plain);
        const std::uint64_t base = kind == ctr::TImageKind::Cxi ? 0
                                   : kind == ctr::TImageKind::Cci
                                       ? ctr::ReadNcsdPartition0(in).Offset
                                       : ctr::ReadCia(in).Contents[0].Offset;
        const ctr::TNcchHeader header = ctr::ReadNcchHeader(in, base, in.Size() - base);
        const std::optional<int> second =
            row.FixedKey || row.Method == 0x00 ? std::nullopt : ctr::SlotOfCryptoMethod(row.Method);
        const struct {
            std::uint64_t At;
            bool SecondKey;
        } flips[] = {{base + header.ExeFs.Offset + 0x30, false},
                     {base + header.RomFs.Offset + 0x30, true}};
        for (const auto& flip : flips) {
            // Removed first: MinGW's copy_file refuses to overwrite even when told to.
            fs::remove(Temp("damaged"));
            fs::copy_file(encrypted, Temp("damaged"));
            {
                std::fstream file(Temp("damaged"), std::ios::in | std::ios::out | std::ios::binary);
                file.seekg(static_cast<std::streamoff>(flip.At));
                const char byte = static_cast<char>(file.get() ^ 0x10);
                file.seekp(static_cast<std::streamoff>(flip.At));
                file.put(byte);
            }
            try {
                ctr::DecryptImage(Temp("damaged"), kind, Temp("damaged_out"), keys);
                ADD_FAILURE() << "damage at " << flip.At << " accepted";
            } catch (const ctr::TKeysDoNotFitError& error) {
                EXPECT_TRUE(flip.SecondKey && second) << error.what();
                const std::string name = second ? ctr::SlotKeyName(*second, 'X') : "?";
                EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
            } catch (const ctr::TMissingKeyError& error) {
                ADD_FAILURE() << error.what();
            } catch (const ctr::TCtrError& error) {
                EXPECT_FALSE(flip.SecondKey && second) << error.what();
                EXPECT_EQ(std::string(error.what()).rfind("the image is damaged", 0), 0u)
                    << error.what();
            }
            EXPECT_FALSE(fs::exists(Temp("damaged_out")));
        }
    }

    // A header claiming a hashed RomFS superblock larger than any image has is damaged; it
    // is refused before anything is read or hashed (once that took seconds and gigabytes).
    if (kind == ctr::TImageKind::Cxi && row.NcchVersion == 2 && !row.FixedKey && !row.Seed) {
        constexpr std::uint32_t units = (2u << 20) / 0x200; // 2 MiB of media units
        std::vector<std::uint8_t> bytes = ctr::ReadSmallFile(encrypted, 64u << 20, "image");
        const std::uint32_t romfs = ctr::GetLE<std::uint32_t>(&bytes[0x1B0]);
        bytes.resize(std::size_t{romfs + units} * 0x200);
        ctr::PutLE<std::uint32_t>(&bytes[0x104], romfs + units); // content size
        ctr::PutLE<std::uint32_t>(&bytes[0x1B4], units);         // RomFS size
        ctr::PutLE<std::uint32_t>(&bytes[0x1B8], units);         // its hashed part
        ctr::WriteWholeFile(Temp("oversized"), bytes);
        try {
            ctr::DecryptImage(Temp("oversized"), kind, Temp("oversized_out"), keys);
            ADD_FAILURE() << "an oversized hash region accepted";
        } catch (const ctr::TCtrError& error) {
            EXPECT_NE(std::string(error.what()).find("oversized"), std::string::npos)
                << error.what();
        }
    }

    // Of a card image, the run takes only the header area and partition 0, as ExtractNcsd
    // gives them from the decrypted image.
    if (kind == ctr::TImageKind::Cci) {
        ctr::DecryptCardParts(encrypted, Temp("header.bin"), Temp("partition.bin"), keys);
        ctr::ExtractNcsd(decrypted, Temp("header_whole.bin"), Temp("partition_whole.bin"));
        EXPECT_FALSE(FirstDifference(Temp("header.bin"), Temp("header_whole.bin"), {}));
        EXPECT_FALSE(FirstDifference(Temp("partition.bin"), Temp("partition_whole.bin"), {}));
    }

    // A truncated image fails with a reason and leaves no output.
    {
        ctr::TInFile in(encrypted);
        const std::uint64_t end =
            kind == ctr::TImageKind::Cci
                ? ctr::ReadNcsdPartition0(in).Offset + ctr::ReadNcsdPartition0(in).Size
                : in.Size();
        fs::copy_file(encrypted, Temp("cut"));
        fs::resize_file(Temp("cut"), end - 16);
    }
    EXPECT_THROW(ctr::DecryptImage(Temp("cut"), kind, Temp("cut_out"), keys), ctr::TCtrError);
    EXPECT_FALSE(fs::exists(Temp("cut_out")));
}

INSTANTIATE_TEST_SUITE_P(KindsAndMethods, SampleCryptTest,
                         ::testing::Values(TCryptCase{"cxi", "fixed", true, 0x00, false},
                                           TCryptCase{"cxi", "m00", false, 0x00, false},
                                           TCryptCase{"cxi", "m01", false, 0x01, false},
                                           TCryptCase{"cxi", "m0A_seed", false, 0x0A, true},
                                           TCryptCase{"cxi", "m0B", false, 0x0B, false},
                                           TCryptCase{"cxi", "m0B_version1", false, 0x0B, false, 1},
                                           TCryptCase{"cia", "fixed", true, 0x00, false},
                                           TCryptCase{"cia", "m01", false, 0x01, false},
                                           TCryptCase{"cia", "m0B_seed", false, 0x0B, true},
                                           TCryptCase{"3ds", "fixed", true, 0x00, false},
                                           TCryptCase{"3ds", "m0A", false, 0x0A, false},
                                           TCryptCase{"3ds", "m00_seed", false, 0x00, true}),
                         [](const auto& info) {
                             return std::string(info.param.Kind) + "_" + info.param.Name;
                         });

} // namespace
