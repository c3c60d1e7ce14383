target_sources(qvt_core PRIVATE install/FileTools.h install/FileTools.cpp install/InstallHost.h)
include(install/pipeline.cmake)
