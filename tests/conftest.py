import os
import sys

# The calling package's exceptions module: a small stand-in lives beside the tests.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
