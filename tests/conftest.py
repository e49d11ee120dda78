import os
import sys

from hypothesis import HealthCheck, settings

# The calling package's exceptions module: a small stand-in lives beside the tests.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# Timing varies on a shared machine: no per-example deadline. Under CI the
# examples are drawn from a fixed seed, so a run is repeatable.
settings.register_profile("default", deadline=None, suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("ci", parent=settings.get_profile("default"), derandomize=True)
settings.load_profile("ci" if os.environ.get("CI") else "default")
