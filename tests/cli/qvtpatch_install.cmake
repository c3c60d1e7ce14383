# qvtpatch_install tests
