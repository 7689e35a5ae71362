# Trace tests.
