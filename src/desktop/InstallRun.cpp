#include "desktop/InstallRun.h"

#include "desktop/Install3DS.h"
#include "desktop/InstallCIA.h"
#include "desktop/InstallCXI.h"

std::unique_ptr<TInstallWorker> MakeInstallWorker(const QString& source_kind,
                                                  const TInstallJob& job, TInstallHost* host,
                                                  TTools* tools) {
    if (source_kind == QLatin1String(".cia"))
        return std::make_unique<TInstallCIA>(job, host, tools);
    if (source_kind == QLatin1String(".3ds"))
        return std::make_unique<TInstall3DS>(job, host, tools);
    if (source_kind == QLatin1String(".cxi"))
        return std::make_unique<TInstallCXI>(job, host, tools);
    return nullptr;
}
