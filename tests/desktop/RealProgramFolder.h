#pragma once
// A temporary program folder with the build's real tools and language files, sample images
// with their sample patch, and taking a written image apart again with the same tools.

#include <QByteArray>
#include <QString>

/// Lays out `folder` (created) as a program folder: tools/ctrtool, 3dstool and makerom copied
/// from the build's program folder (QVT_APP_DIR), tools/xdelta a copy of the same xdelta, and
/// lang/*.lng. With `with_qvtpatch` also the qvtpatch program itself. False when the build's
/// program folder is not complete.
bool MakeRealProgramFolder(const QString& folder, bool with_qvtpatch = false);

/// Writes a small decrypted sample image of `kind` (".cia", ".cxi", ".3ds") for `region` to
/// `image` and, when `patch_folder` is not empty, the matching sample patch there. Returns
/// an empty text on success, else what failed.
QString WriteSampleImage(const QString& tools_folder, const QString& kind, const QString& image,
                         const QString& patch_folder,
                         const QString& region = QStringLiteral("EUR"));

/// The data archive the sample patch's difference yields for images written above.
QByteArray ExpectedPatchedPackDat(const QString& scratch_file,
                                  const QString& region = QStringLiteral("EUR"));

/// Takes `image` of `kind` apart with the tools of `program_folder` into `destination`/exefs
/// and `destination`/romfs. Returns an empty text on success, else what failed.
QString ExtractImage(const QString& program_folder, const QString& image, const QString& kind,
                     const QString& destination);

QByteArray ReadWholeFile(const QString& path);
