# Command-line programs. ctrtool, 3dstool and makerom go into the program folder's tools.
include(cli/ctr_tools.cmake)
include(cli/qvtsample.cmake)
include(cli/bcsartool.cmake)
include(cli/qvtpatch.cmake)

# Debian's xdelta3 serves as tools/xdelta.
add_custom_target(qvt_xdelta ALL
    COMMAND ${CMAKE_COMMAND} -E create_symlink ${XDELTA3_EXECUTABLE} ${QVT_TOOLS_DIR}/xdelta)

# Language files into the program folder's lang.
add_custom_target(qvt_lang ALL
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/lang ${QVT_APP_DIR}/lang)
