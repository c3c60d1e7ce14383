target_sources(qvt_ctr PRIVATE ctr/ByteReader.h ctr/Hash.h ctr/Hash.cpp)
