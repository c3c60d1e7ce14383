# install benchmarks
