# voice and music tests
