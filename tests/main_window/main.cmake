# main window tests
