# resources (.ui layouts are found by AUTOUIC; the .qrc is listed here)
