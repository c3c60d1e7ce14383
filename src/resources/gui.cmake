# resources (.ui layouts are found by AUTOUIC; the .qrc is listed here)
target_sources(qvt_gui PRIVATE resources/ChangeMusic.ui resources/resources.qrc)
