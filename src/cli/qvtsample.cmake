# qvtsample: the sample-image generator. Its parts form a library of their own, so the
# tests and the chain benchmark build the same images and run the same tool chain.
add_library(qvt_sample STATIC
    cli/sample/SampleData.h cli/sample/SampleData.cpp
    cli/sample/SampleHeaders.h cli/sample/SampleHeaders.cpp
    cli/sample/SampleImage.h cli/sample/SampleImage.cpp
    cli/sample/ToolChain.h cli/sample/ToolChain.cpp)
target_include_directories(qvt_sample PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(qvt_sample PUBLIC qvt_ctr Qt6::Core)

add_executable(qvtsample cli/qvtsample.cpp)
target_link_libraries(qvtsample PRIVATE qvt_sample)
