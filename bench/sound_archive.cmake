# sound_archive benchmarks
