target_sources(qvt_gui PRIVATE localisation/LanguageUi.h localisation/LanguageUi.cpp)
