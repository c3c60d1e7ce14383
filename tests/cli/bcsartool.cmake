# bcsartool tests
