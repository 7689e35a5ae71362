# The diagnostic trace.
