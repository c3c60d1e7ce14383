# tests of cli
