"""Update files for the demo and the process tests, through krv-updfile: it is the one
writer of the format, and its inspect command the one reader."""
import os
import re
import subprocess
import tempfile

from . import BIN_DIR

RECORD_HEADER = 36  # bytes before a record's data; inspect gives where each record starts
ROW = re.compile(r"^(\d+)\s+(\d+)\s+.*\s(\d+)\s+(?:0x[0-9A-F]{4}|-)\s+(?:0x[0-9A-F]{4}|-)\s+.*, (sent|not sent)$")


def default_tool():
    return os.path.join(BIN_DIR, "krv-updfile")


def tool_command(tool):
    """The command that runs the tool: a path, or a list (such as one running it under Wine)."""
    if tool is None:
        return [default_tool()]
    return list(tool) if isinstance(tool, (list, tuple)) else [tool]


def sample_records():
    """Twelve records of different sizes; two of them are not transferred."""
    records = []
    for i in range(12):
        length = [100, 62, 63, 0, 50, 130, 7, 200, 1, 64, 124, 33][i]
        data = bytes((j * 7 + i * 31) & 0xFF for j in range(length))
        records.append((data, i not in (4, 8)))
    return records


def make_update_file(version, records, tool=None):
    """The bytes of an update file with that version and the twelve (data, transfer) records."""
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "KRV-7000_UP.upd")
        args = [*tool_command(tool), "make", out, "--version", str(version)]
        for number, (data, transfer) in enumerate(records, start=1):
            path = os.path.join(folder, f"record-{number:02d}.bin")
            with open(path, "wb") as f:
                f.write(data)
            args += ["--send" if transfer else "--keep", path]
        subprocess.run(args, check=True, capture_output=True, timeout=60)
        with open(out, "rb") as f:
            return f.read()


def read_update_file(path, tool=None):
    """The version and the twelve (data, transfer) records of a good update file."""
    result = subprocess.run([*tool_command(tool), "inspect", path], capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise ValueError(f"{path}: {result.stderr.strip()}")
    version = int(re.search(r"^Version: (\d{3}) ", result.stdout, re.M).group(1))
    with open(path, "rb") as f:
        data = f.read()
    records = []
    for line in result.stdout.splitlines():
        row = ROW.match(line)
        if row:
            start = int(row.group(2)) + RECORD_HEADER
            records.append((data[start:start + int(row.group(3))], row.group(4) == "sent"))
    if len(records) != 12:
        raise ValueError(f"{path}: inspect listed {len(records)} records")
    return version, records
