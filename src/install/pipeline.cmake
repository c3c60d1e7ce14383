# install job, pipeline and workers
target_sources(qvt_core PRIVATE
    install/InstallJob.h install/InstallJob.cpp
    install/InstallWorker.h install/InstallWorker.cpp
    install/InstallCIA.h install/InstallCIA.cpp
    install/Install3DS.h install/Install3DS.cpp
    install/InstallCXI.h install/InstallCXI.cpp)
