# tests of main_window
