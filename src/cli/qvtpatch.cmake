# qvtpatch
