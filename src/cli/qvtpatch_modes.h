#pragma once
// The modes of the qvtpatch command-line program.

#include <QStringList>

/// `qvtpatch --identify IMAGE`: identifies the image as the window does. 0 when the image
/// would unlock the output step, else 1.
int RunIdentifyMode(const QStringList& args);

/// Every other use of qvtpatch: a command-line installation. Returns the exit status.
int RunInstallMode(const QStringList& args);
