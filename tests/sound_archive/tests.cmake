# tests of sound_archive
