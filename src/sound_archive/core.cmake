include(sound_archive/bcsar.cmake)
include(sound_archive/voice.cmake)
