#!/usr/bin/env python3
"""krv-updfile as a user runs it: make then inspect, each kind of bad file, the sample file.

Usage: test_updfile.py TOOL [SAMPLE_FILE]
"""
import binascii
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = None
SAMPLE = None


def run(*args):
    result = subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=60)
    return result.returncode, result.stdout, result.stderr


def record_offsets(data):
    offsets, offset = [], 36
    for _ in range(12):
        offsets.append(offset)
        length = struct.unpack_from("<I", data, offset + 32)[0]
        offset += 38 + length
    return offsets


class UpdFileTool(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = self.folder.name
        self.payloads = []
        for i, size in enumerate([300, 0, 62, 63, 1, 1000, 5, 124, 125, 7, 2, 4096]):
            path = os.path.join(self.dir, f"r{i + 1}.bin")
            with open(path, "wb") as f:
                f.write(bytes((j * 17 + i) & 0xFF for j in range(size)))
            self.payloads.append(path)

    def tearDown(self):
        self.folder.cleanup()

    def make(self, version="103", out=None):
        out = out or os.path.join(self.dir, "KRV-7000_UP.upd")
        args = ["make", out, "--version", version]
        for i, p in enumerate(self.payloads):
            args += ["--keep" if i in (2, 6) else "--send", p]
        code, stdout, stderr = run(*args)
        self.assertEqual(code, 0, stderr)
        return out

    def bad(self, path):
        code, stdout, stderr = run("inspect", path)
        self.assertEqual(code, 1, stdout + stderr)
        lines = stderr.strip().split("\n")
        self.assertEqual(len(lines), 1, stderr)
        return lines[0]

    def test_make_then_inspect_round_trips(self):
        path = self.make()
        with open(path, "rb") as f:
            data = f.read()

        # The layout the updater reads, checked here independently of the tool's own code.
        self.assertEqual(data[20:23], b"103")
        offsets = record_offsets(data)
        for i, (offset, payload) in enumerate(zip(offsets, self.payloads)):
            with open(payload, "rb") as f:
                expected = f.read()
            self.assertEqual(data[offset:offset + 7], b"KRV-700")
            self.assertEqual(data[offset + 15:offset + 16], b"N" if i in (2, 6) else b"Y")
            self.assertEqual(struct.unpack_from("<I", data, offset + 32)[0], len(expected))
            self.assertEqual(data[offset + 36:offset + 36 + len(expected)], expected)
            crc = struct.unpack_from("<H", data, offset + 36 + len(expected))[0]
            self.assertEqual(crc, binascii.crc_hqx(expected, 0), f"record {i + 1}")
        self.assertEqual(offsets[0] + 36, 72)

        code, stdout, stderr = run("inspect", path)
        self.assertEqual(code, 0, stderr)
        self.assertEqual(stderr, "")
        self.assertIn("Version: 103 (1.03)", stdout)
        self.assertIn(f"Payload: {len(data) - 492} bytes. The file is good.", stdout)
        rows = [l.split() for l in stdout.splitlines() if l[:1].isdigit()]
        self.assertEqual([int(r[0]) for r in rows], list(range(1, 13)))
        self.assertEqual([int(r[4]) for r in rows], [os.path.getsize(p) for p in self.payloads])
        self.assertEqual([r[3] for r in rows], ["N" if i in (2, 6) else "Y" for i in range(12)])
        self.assertTrue(all(r[5] == r[6] and r[7].startswith("ok") for r in rows))

    def test_make_into_a_folder_and_with_generated_data(self):
        args = ["make", self.dir, "--version", "7"]
        for i in range(12):
            args += ["--keep-fill" if i == 0 else "--send-fill", str(100 * i)]
        code, _, stderr = run(*args)
        self.assertEqual(code, 0, stderr)
        path = os.path.join(self.dir, "KRV-7000_UP.upd")
        code, stdout, stderr = run("inspect", path)
        self.assertEqual(code, 0, stderr)
        self.assertIn("Version: 007 (0.07)", stdout)
        self.assertEqual(os.path.getsize(path), 492 + sum(100 * i for i in range(12)))

    def test_make_refuses_bad_arguments(self):
        out = os.path.join(self.dir, "x.upd")
        code, _, stderr = run("make", out, "--version", "103", "--send", self.payloads[0])
        self.assertEqual(code, 2)
        self.assertIn("exactly twelve records; 1 were given", stderr)
        code, _, stderr = run("make", out, "--version", "1000", *sum((["--send", p] for p in self.payloads), []))
        self.assertEqual(code, 2)
        self.assertIn("0 to 999", stderr)
        code, _, stderr = run("make", out, "--version", "1", "--send", os.path.join(self.dir, "missing"))
        self.assertEqual(code, 2)
        self.assertIn("cannot read record data", stderr)
        self.assertFalse(os.path.exists(out))
        code, _, _ = run("frobnicate")
        self.assertEqual(code, 2)

    def test_each_kind_of_bad_file_gets_its_sentence(self):
        path = self.make()
        with open(path, "rb") as f:
            good = f.read()
        offsets = record_offsets(good)
        damaged = os.path.join(self.dir, "damaged.upd")

        def write(data):
            with open(damaged, "wb") as f:
                f.write(data)
            return damaged

        cut = offsets[5] + 36 + 500
        self.assertEqual(self.bad(write(good[:cut])),
                         f"Record 6 is truncated at byte {cut}: its 1000 data bytes and CRC "
                         f"need the file to reach byte {offsets[6]}.")

        self.assertEqual(self.bad(write(good[:offsets[11] + 20])),
                         f"Record 12 is truncated at byte {offsets[11] + 20}: its 36-byte header "
                         f"starts at byte {offsets[11]}.")

        self.assertEqual(self.bad(write(good[:10])),
                         "The file is truncated at byte 10: it ends before the version at bytes 20 to 22.")

        data = bytearray(good)
        data[offsets[3] + 2] = ord("X")
        self.assertEqual(self.bad(write(bytes(data))),
                         'Record 4 has the wrong model prefix: "KRX-700" instead of "KRV-700".')

        data = bytearray(good)
        data[offsets[8] + 36 + 10] ^= 0x01
        stored = struct.unpack_from("<H", good, offsets[8] + 36 + 125)[0]
        computed = binascii.crc_hqx(bytes(data[offsets[8] + 36:offsets[8] + 36 + 125]), 0)
        self.assertEqual(self.bad(write(bytes(data))),
                         f"Record 9 fails its CRC check: stored 0x{stored:04X}, computed 0x{computed:04X}.")

        data = bytearray(good)
        data[20:23] = b"1.3"
        self.assertEqual(self.bad(write(bytes(data))),
                         'The version is not three digits: bytes 20 to 22 hold "1.3".')

        data = bytearray(good)
        data[20:23] = b"000"
        self.assertEqual(self.bad(write(bytes(data))), "The version is 000, which the updater refuses.")

        code, _, stderr = run("inspect", os.path.join(self.dir, "missing.upd"))
        self.assertEqual(code, 2)

    def test_the_sample_file_is_good(self):
        if SAMPLE is None:
            self.skipTest("no sample file given")
        code, stdout, stderr = run("inspect", SAMPLE)
        self.assertEqual(code, 0, stderr)
        self.assertIn("Version: 103 (1.03)", stdout)
        rows = [l.split() for l in stdout.splitlines() if l[:1].isdigit()]
        self.assertEqual(len(rows), 12)
        self.assertTrue(any(r[3] == "N" for r in rows))
        self.assertTrue(all(1000 <= int(r[4]) <= 8192 for r in rows), "a few KB per record")


if __name__ == "__main__":
    TOOL = sys.argv[1]
    SAMPLE = sys.argv[2] if len(sys.argv) > 2 else None
    unittest.main(argv=[sys.argv[0], "-v"])
