# tests of install
