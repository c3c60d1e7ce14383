target_sources(qvt_ctr PRIVATE
    ctr/ByteReader.h ctr/Hash.h ctr/Hash.cpp
    ctr/FileIo.h ctr/FileIo.cpp
    ctr/Blz.h ctr/Blz.cpp
    ctr/ExeFs.h ctr/ExeFs.cpp
    ctr/RomFs.h ctr/RomFs.cpp
    ctr/Ncch.h ctr/Ncch.cpp
    ctr/Ncsd.h ctr/Ncsd.cpp
    ctr/Cia.h ctr/Cia.cpp
    ctr/Verify.h ctr/Verify.cpp)
