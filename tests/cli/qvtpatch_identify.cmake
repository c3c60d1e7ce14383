# qvtpatch_identify tests
