# Shared pytest configuration: hypothesis profiles for local runs, CI and the (slow)
# debug interpreter.
import os
import sys

from hypothesis import HealthCheck, settings

settings.register_profile("default", max_examples=100)
settings.register_profile("ci", max_examples=100, derandomize=True, deadline=None)
settings.register_profile(
    "debug",
    max_examples=25,
    derandomize=True,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow],
)

if hasattr(sys, "gettotalrefcount"):
    settings.load_profile("debug")
elif os.environ.get("CI"):
    settings.load_profile("ci")
else:
    settings.load_profile("default")
