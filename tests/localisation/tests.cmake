# tests of localisation
