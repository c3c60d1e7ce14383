include(cli/sample.cmake)
include(cli/bcsartool.cmake)
include(cli/qvtpatch_identify.cmake)
include(cli/qvtpatch_install.cmake)
