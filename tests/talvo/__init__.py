"""Stand-in for the calling package: only its exceptions module is needed."""
