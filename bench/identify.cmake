# identify benchmarks
