# chain benchmarks
