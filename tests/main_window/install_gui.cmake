# install control tests
