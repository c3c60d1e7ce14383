# bcsartool
