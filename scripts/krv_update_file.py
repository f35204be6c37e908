"""Writes KRV-7000 update files for the demo and the process tests: a 36-byte header with the version
as three digits at offset 20, then twelve records (36-byte header, data, CRC-16/XMODEM
low byte first)."""
import struct


def crc16_xmodem(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else (crc << 1)
            crc &= 0xFFFF
    return crc


def sample_records():
    """Twelve records of different sizes; two of them are not transferred."""
    records = []
    for i in range(12):
        length = [100, 62, 63, 0, 50, 130, 7, 200, 1, 64, 124, 33][i]
        data = bytes((j * 7 + i * 31) & 0xFF for j in range(length))
        records.append((data, i not in (4, 8)))
    return records


def build_update_file(version, records, model=b"KRV-7000 "):
    assert len(records) == 12 and 0 <= version <= 999
    out = bytearray(b" " * 36)
    out[20:23] = b"%03d" % version
    for data, transfer in records:
        header = bytearray(b" " * 36)
        header[0:8] = model[:8]
        header[15] = ord("Y") if transfer else ord("N")
        header[20:24] = b"0000"
        header[32:36] = struct.pack("<I", len(data))
        out += header + data + struct.pack("<H", crc16_xmodem(data))
    return bytes(out)


def read_update_file(data):
    """The version and the twelve (data, transfer) records of a well-formed update file."""
    version = int(data[20:23])
    records = []
    offset = 36
    for _ in range(12):
        header = data[offset:offset + 36]
        length = struct.unpack("<I", header[32:36])[0]
        records.append((data[offset + 36:offset + 36 + length], header[15:16] in (b"Y", b"y")))
        offset += 36 + length + 2
    if offset > len(data):
        raise ValueError(f"the update file ends at byte {len(data)}, its records at byte {offset}")
    return version, records


assert crc16_xmodem(b"123456789") == 0x31C3
