#pragma once
// The one way a run is made: the window, qvtpatch and make-patch each hand over a complete job
// and the source's kind, and get the worker that takes that kind of image apart.

#include "desktop/InstallJob.h"

#include <QString>

#include <memory>

class TInstallHost;
class TInstallWorker;
namespace engine {
class TTools;
} // namespace engine

/// The worker for a source of `source_kind` (".cia", ".3ds" or ".cxi") over `job`, reporting to
/// `host`; null for any other kind. start() runs it on its own thread, Execute() on this one.
/// The run asks `tools` (the caller's, outliving the worker) for its tools, by default the
/// programs in the program folder's tools.
std::unique_ptr<TInstallWorker> MakeInstallWorker(const QString& source_kind,
                                                  const TInstallJob& job, TInstallHost* host,
                                                  engine::TTools* tools = nullptr);
