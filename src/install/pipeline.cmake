# install job, pipeline and workers
