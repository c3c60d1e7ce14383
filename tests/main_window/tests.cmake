include(main_window/main.cmake)
include(main_window/install_gui.cmake)
