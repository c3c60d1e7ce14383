target_sources(qvt_core PRIVATE localisation/Language.h localisation/Language.cpp)
