class SizeViolation(Exception):
    """An input beyond an exhaustive-search or memory limit."""
