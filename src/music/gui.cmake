target_sources(qvt_gui PRIVATE music/ChangeMusic.h music/ChangeMusic.cpp)
