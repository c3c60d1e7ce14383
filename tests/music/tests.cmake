# tests of music
