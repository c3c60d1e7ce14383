// Stand-in for the installation mode of qvtpatch until it arrives from its own branch.
#include "cli/qvtpatch_modes.h"

#include <cstdio>

int RunInstallMode(const QStringList&) {
    std::fputs("usage: qvtpatch --identify IMAGE\n", stderr);
    return 1;
}
