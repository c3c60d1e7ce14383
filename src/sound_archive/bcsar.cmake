# sound archive unpacker and packer
target_sources(qvt_core PRIVATE
    sound_archive/N3DSbcsar.h sound_archive/N3DSbcsar.cpp
    sound_archive/PieceFiles.h sound_archive/PieceFiles.cpp)
