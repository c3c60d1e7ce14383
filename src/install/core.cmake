target_sources(qvt_core PRIVATE install/FileTools.h install/FileTools.cpp)
target_sources(qvt_core PRIVATE install/InstallHost.h)
