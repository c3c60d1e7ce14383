#pragma once
// The install worker for a decrypted CXI source image.

#include "desktop/InstallWorker.h"

class TInstallCXI : public TInstallWorker {
    Q_OBJECT

public:
    using TInstallWorker::TInstallWorker;
    QString SourceKind() const override { return QStringLiteral(".cxi"); }
};
