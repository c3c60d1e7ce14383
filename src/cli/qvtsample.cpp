// qvtsample: writes a decrypted image of the sample game "Veridane" (CIA, CXI or 3DS) and,
// on request, a matching sample patch folder. Used by the tests, the benchmarks and the demo.
// With --encrypt the image is encrypted with keys made up on the spot, written to --keys.
// With --compress it is written as the emulator's compressed image (.zcia, .zcxi, .zcci).

#include "cli/ParserText.h"
#include "ctr/Decrypt.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "sample/SampleCrypt.h"
#include "sample/SampleHeaders.h"
#include "sample/SampleImage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>

namespace {

/// A whole number in decimal or with 0x in hexadecimal, optionally followed by K, M or G
/// (binary multiples).
std::optional<std::uint64_t> ParseSize(QString text) {
    text = text.trimmed();
    std::uint64_t factor = 1;
    if (!text.isEmpty()) {
        const QChar unit = text.back().toUpper();
        if (unit == QLatin1Char('K') || unit == QLatin1Char('M') || unit == QLatin1Char('G')) {
            factor = unit == QLatin1Char('K')   ? 1ULL << 10
                     : unit == QLatin1Char('M') ? 1ULL << 20
                                                : 1ULL << 30;
            text.chop(1);
        }
    }
    bool ok = false;
    const std::uint64_t value = text.toULongLong(&ok, 0);
    if (!ok || value > UINT64_MAX / factor)
        return std::nullopt;
    return value * factor;
}

std::optional<std::uint32_t> ParseHex32(QString text) {
    text = text.trimmed();
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 16);
    if (!ok || value > 0xFFFFFFFFULL)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

int Fail(const QString& message) {
    std::fprintf(stderr, "qvtsample: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvtsample"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a decrypted image of the sample game \"Veridane\" and, with --patch, a "
        "matching sample patch folder."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption kind({QStringLiteral("kind")}, QStringLiteral("cia, cxi or 3ds."),
                                  QStringLiteral("kind"));
    const QCommandLineOption region({QStringLiteral("region")}, QStringLiteral("JAP, USA or EUR."),
                                    QStringLiteral("region"));
    const QCommandLineOption out({QStringLiteral("out")}, QStringLiteral("Image to write."),
                                 QStringLiteral("path"));
    const QCommandLineOption pack_size(
        {QStringLiteral("pack-size")},
        QStringLiteral("Size of pack.dat in bytes (K, M, G suffixes allowed; default 8M)."),
        QStringLiteral("bytes"), QStringLiteral("8M"));
    const QCommandLineOption patch({QStringLiteral("patch")},
                                   QStringLiteral("Also write a sample patch into this folder."),
                                   QStringLiteral("folder"));
    const QCommandLineOption encrypted(
        {QStringLiteral("encrypted")},
        QStringLiteral("Scramble the extended header, as in an image never decrypted."));
    const QCommandLineOption title_low(
        {QStringLiteral("title-low")},
        QStringLiteral("Low word of the program ID in hexadecimal (another title)."),
        QStringLiteral("hex"));
    const QCommandLineOption cia_header_size(
        {QStringLiteral("cia-header-size")},
        QStringLiteral("Write this header size (hexadecimal) into the CIA."),
        QStringLiteral("hex"));
    const QCommandLineOption seed({QStringLiteral("seed")},
                                  QStringLiteral("Seed of the content (default 1)."),
                                  QStringLiteral("number"), QStringLiteral("1"));
    const QCommandLineOption encrypt(
        {QStringLiteral("encrypt")},
        QStringLiteral("Encrypt the image: fixed (zero keys) or keys (made-up keys, written to "
                       "--keys)."),
        QStringLiteral("how"));
    const QCommandLineOption keys_file(
        {QStringLiteral("keys")},
        QStringLiteral("Key file to write for --encrypt keys (seeddb.bin goes beside it)."),
        QStringLiteral("file"));
    const QCommandLineOption title_seed({QStringLiteral("title-seed")},
                                        QStringLiteral("Encrypt with a made-up title seed."));
    const QCommandLineOption crypto_method(
        {QStringLiteral("crypto-method")},
        QStringLiteral("Crypto method for --encrypt keys: 0, 1, A or B (hexadecimal)."),
        QStringLiteral("hex"), QStringLiteral("0"));
    const QCommandLineOption tools(
        {QStringLiteral("tools")},
        QStringLiteral("Folder with 3dstool and makerom (default: tools beside qvtsample)."),
        QStringLiteral("folder"));
    const QCommandLineOption compress(
        {QStringLiteral("compress")},
        QStringLiteral("Write the image compressed (Z3DS), as the emulator's .zcia, .zcxi or "
                       ".zcci."));
    parser.addOptions({kind, region, out, pack_size, patch, encrypted, title_low, cia_header_size,
                       seed, encrypt, keys_file, title_seed, crypto_method, tools, compress});
    ProcessCommandLine(parser);

    sample::TSampleOptions options;
    const QString kind_text = parser.value(kind).toLower();
    if (kind_text == QLatin1String("cia"))
        options.Kind = sample::TImageKind::Cia;
    else if (kind_text == QLatin1String("cxi"))
        options.Kind = sample::TImageKind::Cxi;
    else if (kind_text == QLatin1String("3ds"))
        options.Kind = sample::TImageKind::Cci;
    else
        return Fail(QStringLiteral("--kind must be cia, cxi or 3ds"));
    options.Region = parser.value(region).toUpper().toStdString();
    if (!sample::RegionTitleLow(options.Region))
        return Fail(QStringLiteral("--region must be JAP, USA or EUR"));
    options.OutPath = parser.value(out);
    if (options.OutPath.isEmpty())
        return Fail(QStringLiteral("--out is required"));
    const auto size = ParseSize(parser.value(pack_size));
    if (!size)
        return Fail(QStringLiteral("--pack-size is not a size: %1").arg(parser.value(pack_size)));
    options.PackSize = *size;
    options.PatchFolder = parser.value(patch);
    options.Encrypted = parser.isSet(encrypted);
    if (parser.isSet(title_low)) {
        options.TitleLow = ParseHex32(parser.value(title_low));
        if (!options.TitleLow)
            return Fail(QStringLiteral("--title-low is not a 32-bit hexadecimal number"));
    }
    if (parser.isSet(cia_header_size)) {
        options.CiaHeaderSize = ParseHex32(parser.value(cia_header_size));
        if (!options.CiaHeaderSize)
            return Fail(QStringLiteral("--cia-header-size is not a 32-bit hexadecimal number"));
    }
    const auto seed_value = ParseSize(parser.value(seed));
    if (!seed_value)
        return Fail(QStringLiteral("--seed is not a number"));
    options.Seed = *seed_value;
    options.ToolsFolder = parser.isSet(tools) ? parser.value(tools) : sample::DefaultToolsFolder();

    std::optional<sample::TEncryption> encryption;
    if (parser.isSet(encrypt)) {
        encryption.emplace();
        const QString how = parser.value(encrypt).toLower();
        encryption->FixedKey = how == QLatin1String("fixed");
        if (!encryption->FixedKey && how != QLatin1String("keys"))
            return Fail(QStringLiteral("--encrypt must be fixed or keys"));
        const auto method = ParseHex32(parser.value(crypto_method));
        if (!method || *method > 0xFF ||
            !ctr::SlotOfCryptoMethod(static_cast<std::uint8_t>(*method)))
            return Fail(QStringLiteral("--crypto-method must be 0, 1, A or B"));
        encryption->CryptoMethod = static_cast<std::uint8_t>(*method);
        if ((!encryption->FixedKey || parser.isSet(title_seed)) && !parser.isSet(keys_file))
            return Fail(QStringLiteral("--encrypt keys and --title-seed need --keys FILE"));
    }

    const auto path = [](const QString& text) {
        return std::filesystem::path(text.toStdU16String());
    };
    const auto image_kind = options.Kind == sample::TImageKind::Cia   ? ctr::TImageKind::Cia
                            : options.Kind == sample::TImageKind::Cxi ? ctr::TImageKind::Cxi
                                                                      : ctr::TImageKind::Cci;
    // The image as built (and encrypted); compressed, it is a step on the way.
    const QString image_path =
        parser.isSet(compress) ? options.OutPath + QStringLiteral(".image") : options.OutPath;
    try {
        if (!encryption) {
            options.OutPath = image_path;
            sample::GenerateSample(options);
        } else {
            const QString plain_path = options.OutPath + QStringLiteral(".plain");
            options.OutPath = plain_path;
            sample::GenerateSample(options);
            std::random_device device;
            std::mt19937_64 random((std::uint64_t{device()} << 32) | device());
            ctr::TCryptoKeys keys = sample::MakeUpKeys(random());
            for (std::uint8_t& byte : encryption->TitleKey)
                byte = static_cast<std::uint8_t>(random());
            if (parser.isSet(title_seed)) {
                ctr::TSeed seed_bytes{};
                for (std::uint8_t& byte : seed_bytes)
                    byte = static_cast<std::uint8_t>(random());
                encryption->Seed = seed_bytes;
            }
            sample::EncryptImage(path(plain_path), image_kind, path(image_path), *encryption, keys);
            QFile::remove(plain_path);
            if (parser.isSet(keys_file))
                sample::WriteKeyFiles(path(parser.value(keys_file)), keys);
        }
        if (parser.isSet(compress)) {
            ctr::CompressImage(path(image_path), image_kind, path(parser.value(out)));
            QFile::remove(image_path);
        }
    } catch (const std::exception& error) {
        if (parser.isSet(compress))
            QFile::remove(image_path);
        return Fail(QString::fromStdString(error.what()));
    }
    return 0;
}
