target_sources(qvt_core PRIVATE
    main_window/WindowState.h
    main_window/Identify.h main_window/Identify.cpp
    main_window/PatchCatalogue.h main_window/PatchCatalogue.cpp
    main_window/Startup.h main_window/Startup.cpp
    main_window/DescriptionText.h main_window/DescriptionText.cpp)
