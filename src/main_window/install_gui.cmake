# window side of installation runs
