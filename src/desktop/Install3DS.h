#pragma once
// The install worker for a decrypted 3DS source image.

#include "desktop/InstallWorker.h"

class TInstall3DS : public TInstallWorker {
    Q_OBJECT

public:
    using TInstallWorker::TInstallWorker;
    QString SourceKind() const override { return QStringLiteral(".3ds"); }

protected:
    bool StripsThreeDsSuffix() const override { return true; }
};
