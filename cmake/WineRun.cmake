# Cross-built tests run under Wine through build/wine-run.sh: one Wine prefix per build folder,
# the MinGW runtime and Qt DLLs on the program path, no debug chatter, no Mono or Gecko set-up.
find_program(QVT_WINE wine REQUIRED)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE qvt_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread-1.dll
                OUTPUT_VARIABLE qvt_winpthread OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(qvt_libstdcxx_dir "${qvt_libstdcxx}" DIRECTORY)
get_filename_component(qvt_winpthread_dir "${qvt_winpthread}" DIRECTORY)
# Qt's DLLs: found through the Qt the build uses (QT_DIR is set by find_package later, so
# take the first root of the search path that holds bin/Qt6Core.dll).
set(QVT_WINE_DLL_DIRS "${qvt_libstdcxx_dir}" "${qvt_winpthread_dir}")
foreach(root IN LISTS CMAKE_FIND_ROOT_PATH CMAKE_PREFIX_PATH)
    if(EXISTS "${root}/bin/Qt6Core.dll")
        list(APPEND QVT_WINE_DLL_DIRS "${root}/bin")
    endif()
endforeach()
list(REMOVE_DUPLICATES QVT_WINE_DLL_DIRS)
list(TRANSFORM QVT_WINE_DLL_DIRS PREPEND "Z:")
list(JOIN QVT_WINE_DLL_DIRS ";" QVT_WINE_PATH)
set(QVT_WINE_FONTS /usr/share/fonts/truetype/dejavu) # fonts-dejavu-core, as the Linux tests use
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
