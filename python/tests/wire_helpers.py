"""What the tests build without the module: the independent checksum, datagram images stamped
with it and a free port on 127.0.0.1. The module's, emulator's and tools' tests share them."""

import socket
import struct


def crc(data: bytes, words: int) -> int:
    """The packet checksum, bit by bit: MSB-first CRC-32 over little-endian 32-bit words."""
    value = 0xFFFFFFFF
    for k in range(words):
        (w,) = struct.unpack_from("<I", data, 4 * k)
        for b in range(31, -1, -1):
            top = value >> 31
            value = (value << 1) & 0xFFFFFFFF
            if top != (w >> b) & 1:
                value ^= 0x04C11DB7
    return value


def scrambled(value: int) -> int:
    masked = value ^ 0x5B3D7E91
    return ((masked >> 8) | (masked << 24)) & 0xFFFFFFFF


def stamp(image: bytearray, scramble: bool = False) -> bytes:
    """Puts the checksum of the coverage rule into the last four bytes."""
    value = crc(bytes(image), (len(image) >> 2) - 1)
    struct.pack_into("<I", image, len(image) - 4, scrambled(value) if scramble else value)
    return bytes(image)


def free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
