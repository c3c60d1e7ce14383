#pragma once
// A program folder whose tools are small shell scripts that act like ctrtool, 3dstool,
// makerom and xdelta on tiny files: real processes with real argument lists, for pipeline
// tests. Each script checks its argument count (a path split in two fails with exit 9),
// records its stage in tools/calls.log and can be told to fail or to wait:
//   tools/exit_<STAGE>   holds an exit code: 1 fails at once, any other code after the work
//   tools/block_<STAGE>  makes the tool write tools/started_<STAGE> and wait for tools/release
//   tools/progress_<STAGE>  is printed on standard error (the progress lines of our tools)
//   tools/dir_EXEFS      makes the ExeFS stage leave a folder named exefs.bin
// The RomFS unpacking also copies program_folder/fixture/temp, when present, into tools/temp.
// Stages: NCCH EXEFS ROMFS UNPACKROMFS CXIHEADERS EXEFSHEADERS REBUILDEXEFS REBUILDROMFS
// REBUILDCXI CIA 3DS XDELTA.
// The "image" the rebuild writes is a listing of every file (path and MD5) of the rebuilt
// ExeFS and RomFS trees, so a test reads what the output holds.

#include <QString>

/// Writes the stand-in tools into program_folder/tools and the unpacked RomFS the "source"
/// yields into program_folder/fixture/romfs (pack.dat, pack.inc, sound/QK123.bcsar).
void WriteStandInTools(const QString& program_folder);

/// Writes `bytes` to `path`, creating folders on the way.
void WriteFileBytes(const QString& path, const QByteArray& bytes);
