target_sources(qvt_gui PRIVATE install/FileDialogs.h install/FileDialogs.cpp)
