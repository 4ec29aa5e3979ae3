"""What the Python tests share, written once: the reference checksum and datagram images (no
module needed), a plain-socket peer on 127.0.0.1, child processes with a bounded stop,
torvane-sim as a child on a port of its own choosing, and the lockstep capture client."""
