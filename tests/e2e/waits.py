"""Condition-based waiting with generous limits.

The limits are scaled by TOLVI_E2E_TIME_SCALE (the sanitizer build sets it),
because the machine may be a loaded 2-core box and tolvi much slower under
ASan. A limit only bounds a failure; a passing run never waits it out.
"""

import os
import time


class Timeout(Exception):
    pass


def scaled(seconds):
    return seconds * float(os.environ.get("TOLVI_E2E_TIME_SCALE", "1"))


def wait_for(description, condition, timeout=60, interval=0.2):
    """Polls condition() until it returns something truthy, and returns that."""
    deadline = time.monotonic() + scaled(timeout)
    last_error = None
    while True:
        try:
            value = condition()
            if value:
                return value
        except Exception as error:  # a window or object that vanished mid-look
            last_error = error
        if time.monotonic() > deadline:
            detail = " (last error: %s)" % last_error if last_error else ""
            raise Timeout("timed out waiting until %s%s" % (description, detail))
        time.sleep(interval)
