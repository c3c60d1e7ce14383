target_sources(qvt_gui PRIVATE
    main_window/MessageBoxes.h main_window/MessageBoxes.cpp
    main_window/Main.h main_window/Main.cpp
    main_window/OpenLink.h main_window/OpenLink.cpp
    resources/Main.ui)
include(main_window/install_gui.cmake)

# The window program, in the program folder.
add_executable(qvtpatch_gui main_window/ProgramMain.cpp)
set_target_properties(qvtpatch_gui PROPERTIES OUTPUT_NAME qvtpatch-gui)
target_link_libraries(qvtpatch_gui PRIVATE qvt_gui)
