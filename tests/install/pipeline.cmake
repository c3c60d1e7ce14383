# tests of the install pipeline
