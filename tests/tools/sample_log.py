"""Reading the sample log that kvssf play and dshow-host write with --samples."""

import json


def read_log(path):
    """(per pin, everything the pin's sink received in order; the error lines)."""
    pins, errors = {}, []
    with open(path) as f:
        for line in f:
            entry = json.loads(line)
            if "pin" in entry:
                pins.setdefault(entry["pin"], []).append(entry)
            else:
                errors.append(entry)
    return pins, errors
