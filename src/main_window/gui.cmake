target_sources(qvt_gui PRIVATE main_window/MessageBoxes.h main_window/MessageBoxes.cpp)
include(main_window/install_gui.cmake)
