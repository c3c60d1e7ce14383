# voice and music step
