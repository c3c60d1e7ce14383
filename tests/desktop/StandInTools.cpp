#include "StandInTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// One script for all four tools; it tells them apart by its own name.
const char kScript[] = R"SH(#!/bin/sh
tool=$(basename "$0")
cd "$(dirname "$0")/.." || exit 7
{ printf '%s' "$tool"; for a in "$@"; do printf '\t%s' "$a"; done; printf '\n'; } >> tools/argv.log
argc=$#
need() { [ "$argc" -eq "$1" ] || { echo "$tool $stage argc $argc" >> tools/calls.log; exit 9; }; }
stage=UNKNOWN
case "$tool:$1:$2" in
  ctrtool:--contents=tools/temp/c:*) stage=NCCH; need 2 ;;
  ctrtool:-p:--exefs=tools/temp/exefs.bin) stage=EXEFS; need 3 ;;
  ctrtool:-p:--romfs=tools/temp/romfs.bin) stage=ROMFS; need 3 ;;
  3dstool:-xtf:3ds) stage=NCCH; need 7 ;;
  3dstool:-xtf:cxi) if [ "$4" = --exefs ]; then stage=EXEFS; else stage=ROMFS; fi; need 5 ;;
  3dstool:-xtf:romfs) stage=UNPACKROMFS; need 5 ;;
  3dstool:-xvtf:cxi) stage=CXIHEADERS; need 9 ;;
  3dstool:-xutf:exefs) stage=EXEFSHEADERS; need 7 ;;
  3dstool:-cztf:exefs) stage=REBUILDEXEFS; need 7 ;;
  3dstool:-ctf:romfs) stage=REBUILDROMFS; need 5 ;;
  3dstool:-cvtf:cxi) stage=REBUILDCXI; need 13 ;;
  3dstool:-ctf:3ds) stage=3DS; need 7 ;;
  makerom:-f:Cia) stage=CIA; need 6 ;;
  xdelta:-d:-s) stage=XDELTA; need 5 ;;
esac
echo "$tool $stage" >> tools/calls.log
[ -f "tools/progress_$stage" ] && [ -n "$QVT_PROGRESS" ] && cat "tools/progress_$stage" >&2
if [ -f "tools/block_$stage" ]; then
  : > "tools/started_$stage"
  while [ ! -f tools/release ]; do sleep 0.02; done
fi
code=0
[ -f "tools/exit_$stage" ] && code=$(cat "tools/exit_$stage")
[ "$code" = 1 ] && exit 1
if [ "$code" = INT ]; then trap - INT; kill -INT $$; sleep 1; exit 1; fi
set -e
listing() { (cd "$1" && find . -type f | LC_ALL=C sort | while read -r f; do echo "$f $(md5sum < "$f" | cut -c1-32)"; done); }
case $stage in
  NCCH) if [ "$tool" = ctrtool ]; then cp "$2" tools/temp/c.0000.00000000; else cp "$3" "$7"; echo main > "$5"; fi ;;
  EXEFS) if [ -f tools/dir_EXEFS ]; then mkdir -p tools/temp/exefs.bin/x; else echo exefs > tools/temp/exefs.bin; fi ;;
  ROMFS) echo romfs > tools/temp/romfs.bin ;;
  UNPACKROMFS) mkdir "$5"; cp -R fixture/romfs/. "$5"; if [ -d fixture/temp ]; then cp -R fixture/temp/. tools/temp; fi ;;
  CXIHEADERS) [ -f "$3" ]; echo h > "$5"; echo x > "$7"; echo l > "$9" ;;
  EXEFSHEADERS) mkdir "$5"; echo original > "$5/code.bin"; echo banner > "$5/banner.bin"; echo e > "$7" ;;
  REBUILDEXEFS) listing "$5" > "$3" ;;
  REBUILDROMFS) listing "$5" > "$3" ;;
  REBUILDCXI) { echo "[exefs]"; cat "${9}"; echo "[romfs]"; cat "${11}"; } > "$3" ;;
  CIA) cp "${4%%:*}" "$6" ;;
  3DS) cp "$7" "$3" ;;
  XDELTA) xdelta3 -d -s "$3" "$4" "$5" ;;
  *) exit 8 ;;
esac
exit "$code"
)SH";

} // namespace

void WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

void WriteStandInTools(const QString& program_folder) {
    const QString tools = program_folder + QStringLiteral("/tools/");
    for (const char* name : {"ctrtool", "3dstool", "makerom", "xdelta"}) {
        const QString path = tools + QString::fromLatin1(name);
        WriteFileBytes(path, QByteArray(kScript));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString romfs = program_folder + QStringLiteral("/fixture/romfs/");
    WriteFileBytes(romfs + QStringLiteral("pack.dat"), QByteArray(4096, 'd'));
    WriteFileBytes(romfs + QStringLiteral("pack.inc"), QByteArray("index of the data archive"));
    WriteFileBytes(romfs + QStringLiteral("sound/QK123.bcsar"), QByteArray("not an archive"));
    WriteFileBytes(romfs + QStringLiteral("sound/se.bcwav"), QByteArray("effect"));
}
