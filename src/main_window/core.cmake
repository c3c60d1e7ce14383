target_sources(qvt_core PRIVATE main_window/WindowState.h)
