# tests of the file tools (FileTools)
