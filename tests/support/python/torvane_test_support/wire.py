"""The packet checksum as the protocol defines it, bit by bit, its scrambled form, and command
datagrams stamped with it: built without the module, to hold the module against."""

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


def command(level: str, serial: int) -> bytes:
    """A command datagram of `level` ("high": 129 bytes, "low": 614) with SN `serial`."""
    length, flag = (129, 0xEE) if level == "high" else (614, 0xFF)
    image = bytearray(length)
    image[0:3] = bytes([0xFE, 0xEF, flag])
    struct.pack_into("<I", image, 4, serial)
    if level == "high":
        image[22] = 1  # stand
    else:
        for slot in range(20):  # every motor: mode 10, no targets held
            struct.pack_into("<Bff", image, 22 + 27 * slot, 10, 2146000000.0, 16000.0)
    return stamp(image)
