# sample tests
