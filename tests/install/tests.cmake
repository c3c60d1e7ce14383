include(install/filetools.cmake)
include(install/pipeline.cmake)
