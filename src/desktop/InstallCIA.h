#pragma once
// The install worker for a decrypted CIA source image.

#include "desktop/InstallWorker.h"

class TInstallCIA : public TInstallWorker {
    Q_OBJECT

public:
    using TInstallWorker::TInstallWorker;
    QString SourceKind() const override { return QStringLiteral(".cia"); }
};
