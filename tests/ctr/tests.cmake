# tests of ctr
