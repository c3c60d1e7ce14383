# voice and music step
target_sources(qvt_core PRIVATE sound_archive/VoiceAndMusic.h sound_archive/VoiceAndMusic.cpp)
