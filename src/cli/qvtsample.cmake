# qvtsample
