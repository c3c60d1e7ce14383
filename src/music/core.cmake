target_sources(qvt_core PRIVATE music/TrackList.h music/TrackList.cpp)
