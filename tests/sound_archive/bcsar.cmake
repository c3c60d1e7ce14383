# bcsar tests
