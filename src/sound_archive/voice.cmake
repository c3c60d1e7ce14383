# voice and music step
target_sources(qvt_core PRIVATE sound_archive/VoiceAndMusic.h sound_archive/VoiceAndMusic.cpp)
# Stand-ins until the sound archive code and the track list land on this branch.
target_sources(qvt_core PRIVATE sound_archive/BcsarPending.cpp)
