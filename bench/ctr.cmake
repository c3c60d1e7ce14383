# ctr benchmarks
