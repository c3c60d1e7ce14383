#pragma once
// Builds a decrypted image of the sample game "Veridane" and a matching sample patch.
// The unpacked game is written in the layout the installer's work folder has (romfs,
// exefs, headers), then rebuilt with the program folder's own tools and the installer's
// own build command lines, so the images are exactly what those tools produce.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace sample {

/// A failure that ends the generator: the message says what and where.
class TSampleError : public std::runtime_error {
public:
    explicit TSampleError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

enum class TImageKind { Cia, Cxi, Cci };

struct TSampleOptions {
    TImageKind Kind = TImageKind::Cia;
    std::string Region = "EUR";
    QString OutPath;
    std::uint64_t PackSize = 8u << 20;
    QString PatchFolder;                        // empty: no patch
    bool Encrypted = false;                     // exheader scrambled: program IDs differ
    std::optional<std::uint32_t> TitleLow;      // another title's program ID low word
    std::optional<std::uint32_t> CiaHeaderSize; // written over the CIA's header size
    std::uint64_t Seed = 1;
    QString ToolsFolder; // holds 3dstool and makerom
};

/// Digests of the data archive and its index as the game ships them.
struct TTreeDigests {
    QString PackDatMD5; // 32 upper-case hexadecimal digits
    QString PackIncMD5;
};

/// Writes the unpacked game into `folder`: romfs/{pack.dat, pack.inc, sound/QK123.bcsar},
/// exefs/{code.bin, banner.bnr, icon.icn} and headers/{ncchheader.bin, exheader.bin,
/// logo.bin, exefsheader.bin, mainncchheader.bin}. The data archive is streamed.
TTreeDigests WriteSampleTree(const QString& folder, const TSampleOptions& options);

/// Writes the sample patch into `patch_folder`: patch.xdelta from `original_pack_dat` to
/// the changed data archive (made with xdelta3), English.dsc and Русский.dsc, exefs and
/// romfs replacement folders, the three voice folders and Tracklist.tls.
void WriteSamplePatch(const QString& patch_folder, const QString& original_pack_dat,
                      const TSampleOptions& options, const TTreeDigests& digests);

/// The whole generator: tree, optional patch, then the image at options.OutPath.
void GenerateSample(const TSampleOptions& options);

/// Streams the changed data archive (what patch.xdelta yields) into `path`.
void WriteChangedPackDat(const QString& path, const TSampleOptions& options);

/// Runs `program` with `arguments` in `working_folder`; throws TSampleError with the
/// tool's output when it cannot start or exits with anything but 0.
void RunOrThrow(const QString& program, const QStringList& arguments,
                const QString& working_folder);

/// MD5 of a file as 32 upper-case hexadecimal digits, read in a stream; throws
/// TSampleError when the file cannot be read.
QString FileMd5Hex(const QString& path);

/// Path of Debian's xdelta3 (or the program folder's tools/xdelta when it is missing).
QString Xdelta3Path(const QString& tools_folder);

/// The folder of qvtsample's own executable + "/tools".
QString DefaultToolsFolder();

} // namespace sample
