#include "desktop/Identify.h"

#include "ctr/Decrypt.h"
#include "desktop/Decryption.h"
#include "desktop/FileTools.h"
#include "engine/Identify.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

namespace {

QString KindText(std::optional<ctr::TImageKind> kind) {
    if (!kind)
        return QString();
    switch (*kind) {
    case ctr::TImageKind::Cia:
        return QStringLiteral(".cia");
    case ctr::TImageKind::Cci:
        return QStringLiteral(".3ds");
    case ctr::TImageKind::Cxi:
        break;
    }
    return QStringLiteral(".cxi");
}

// The entries that follow the refusal of an encrypted image: why it could not be taken apart
// (a missing key by its name, a title without its seed by its ID, never a key itself) and the
// files read, then how to get a decrypted image.
void AppendKeyAdvice(TIdentifyResult& result, const TSourceCrypto& crypto,
                     const TLanguageTable& texts) {
    // A reason of several lines starts on a line of its own.
    const auto reason = [&](const char* key) {
        const QString separator = crypto.Problem.contains(QLatin1Char('\n'))
                                      ? QStringLiteral("\r\n")
                                      : QStringLiteral(" ");
        result.LogEntries.append(texts.Lookup(QLatin1String(key)) + separator + crypto.Problem);
    };
    if (crypto.ImageProblem) {
        reason("LogEncryptedImageProblem");
    } else if (crypto.KeysMissing && !crypto.KeyFileFound) {
        result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncryptedNoKeys")));
    } else {
        reason("LogEncryptedKeyProblem");
        QStringList files;
        for (const QString& file : crypto.FilesRead)
            files << QDir::toNativeSeparators(file);
        result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncryptedFilesRead")) +
                                 QLatin1Char(' ') + files.join(QStringLiteral(", ")));
    }
    result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncryptedGodMode9")));
}

} // namespace

QString SourceKindOfPath(const QString& path, bool* compressed) {
    return KindText(engine::ImageKindOfName(QFileInfo(path).fileName().toStdString(), compressed));
}

TSourceForm SourceFormOfFile(const QString& path) {
    TSourceForm form;
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return form;
    const engine::TSourceForm found = engine::SourceFormOfFile(ToPath(path));
    form.Opened = found.Opened;
    form.Kind = KindText(found.Kind);
    form.Compressed = found.Compressed;
    form.Problem = QString::fromStdString(found.Problem);
    return form;
}

QString SourceFormName(const QString& kind, bool compressed) {
    return QString::fromStdString(engine::SourceFormName(LibraryImageKind(kind), compressed));
}

QString SourceImageFilter() {
    return QStringLiteral("Decrypted CIA ROM (*.cia)|*.cia|Decrypted CXI ROM (*.cxi)|*.cxi|"
                          "Decrypted 3DS ROM (*.3ds)|*.3ds|"
                          "CCI ROM (*.cci)|*.cci|"
                          "Compressed ROM (*.zcia *.zcxi *.zcci)|*.zcia;*.zcxi;*.zcci|"
                          "All game images (*.cia *.cxi *.3ds *.cci *.zcia *.zcxi *.zcci)|"
                          "*.cia;*.cxi;*.3ds;*.cci;*.zcia;*.zcxi;*.zcci|"
                          "All files (*)|*");
}

TIdentifyResult IdentifySourceImage(const QString& path, const TLanguageTable& texts) {
    TIdentifyResult result;
    // Only a regular file can be an image: opening a named pipe would wait for a writer.
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        result.ErrorKey = QStringLiteral("ErrorLoadingROM");
        return result;
    }
    // An encrypted image is read through the first key set found that opens it.
    TSourceCrypto crypto;
    const engine::TOpenDecryption open_decryption = [&](ctr::TImageKind kind) {
        std::unique_ptr<ctr::TDecryptingReader> decrypting;
        crypto = InspectSourceCrypto(path, KindText(kind), KeySearch(), &decrypting);
        if (!crypto.Encrypted || !crypto.Ready())
            decrypting.reset();
        return decrypting;
    };
    const engine::TIdentity found = engine::IdentifyImage(
        ToPath(path), QFileInfo(path).fileName().toStdString(), open_decryption);
    result.Opened = found.Opened;
    result.Kind = KindText(found.Kind);
    result.Compressed = found.Compressed;
    result.Encrypted = found.Encrypted;
    result.KeysFound = found.KeysFound;
    result.ProductCode = QByteArray::fromStdString(found.ProductCode);
    if (found.TitleId)
        result.TitleId =
            QStringLiteral("%1").arg(*found.TitleId, 16, 16, QLatin1Char('0')).toUpper();
    result.HasInfoPosition = found.InfoPosition.has_value();
    result.InfoPosition = found.InfoPosition.value_or(0);
    result.Region = QString::fromStdString(found.Region);
    result.ErrorKey = QString::fromStdString(found.ErrorKey);
    result.BytesRead = found.BytesRead;
    if (found.ErrorKey == "ErrorCompressedImage") {
        result.LogEntries.append(texts.Lookup(result.ErrorKey) + QStringLiteral("\r\n") +
                                 QString::fromStdString(found.Problem));
        return result;
    }
    if (!found.Kind)
        return result;

    if (found.KindByContent) {
        // The name says otherwise (or nothing): the content decides, and the log says so.
        result.LogEntries.append(texts.Lookup(QStringLiteral("LogKindByContent")) +
                                 QLatin1Char(' ') + SourceFormName(result.Kind, result.Compressed));
    }
    if (found.Encrypted && !found.KeysFound) {
        // Keys would not help an image that cannot be taken apart.
        result.NeedsKeys = crypto.Encrypted && !crypto.ImageProblem;
        result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncrypted")) +
                                 QStringLiteral("\r\n"));
        if (!crypto.Ready())
            AppendKeyAdvice(result, crypto, texts);
        return result;
    }
    if (found.Encrypted) {
        result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncryptedWillDecrypt")));
        if (!crypto.KeyFile.isEmpty())
            result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncryptedKeysFrom")) +
                                     QLatin1Char(' ') + QDir::toNativeSeparators(crypto.KeyFile));
    }
    const qsizetype end = result.ProductCode.indexOf('\0');
    result.LogEntries.append((found.Kind == ctr::TImageKind::Cia
                                  ? QStringLiteral("Product Code: ")
                                  : QStringLiteral("ProductCode: ")) +
                             QString::fromLatin1(result.ProductCode.left(end < 0 ? 10 : end)));
    if (!result.Region.isEmpty())
        result.LogEntries.append(QStringLiteral("ROM Region: ") + result.Region);
    return result;
}
