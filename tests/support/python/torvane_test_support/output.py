"""What a library or the module writes to the process's own standard output (file descriptor 1,
not sys.stdout), collected while a block runs."""

import contextlib
import os
import tempfile


@contextlib.contextmanager
def sdk_output():
    """Collects what is printed on file descriptor 1 while the block runs."""
    result = []
    with tempfile.TemporaryFile() as tmp:
        saved = os.dup(1)
        os.dup2(tmp.fileno(), 1)
        try:
            yield result
        finally:
            os.dup2(saved, 1)
            os.close(saved)
            tmp.seek(0)
            result.append(tmp.read().decode())
