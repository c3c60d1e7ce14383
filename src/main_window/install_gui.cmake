# window side of installation runs
target_sources(qvt_gui PRIVATE main_window/InstallControl.cpp)
