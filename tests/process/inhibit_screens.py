#!/usr/bin/python3
"""Sleep, shutdown and system quits held back for an update: the real updater against the
emulated KRV-7000 under a private Xvfb, with logind mocked (python-dbusmock's template) on a
private system bus. Run with Debian's python3 (dbusmock).
python3 inhibit_screens.py SCENARIO --exe ... --library ... --host ... --sample ...
Exit 0 passed, 1 failed."""
import os
import signal
import subprocess
import sys
import time

import dbus

from emulated_screens import expect, h, parse_args, read_update_file, updater_beside

LOCK = ("idle:sleep:shutdown", "KRV-7000 Firmware Updater", "Updating the KRV-7000's firmware", "block")


class SystemBus:
    """A private system bus (a socket path, reachable from the updater's own network
    namespace) with logind mocked on it."""

    def __init__(self, folder):
        self.address = "unix:path=" + os.path.join(folder, "system-bus")
        self.daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--address=" + self.address],
                                       stdout=subprocess.DEVNULL)
        # On a busy machine the daemon takes a while to listen.
        expect(h.wait_for(lambda: os.path.exists(os.path.join(folder, "system-bus")), timeout=20), "no system bus")
        time.sleep(0.2)
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.address)
        self.mock = subprocess.Popen(["/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"],
                                     env=env, stdout=subprocess.DEVNULL)
        self.bus = dbus.bus.BusConnection(self.address)
        expect(h.wait_for(lambda: self.bus.name_has_owner("org.freedesktop.login1"), timeout=30), "no mocked logind")
        self.manager = dbus.Interface(self.bus.get_object("org.freedesktop.login1", "/org/freedesktop/login1"),
                                      "org.freedesktop.login1.Manager")

    def locks(self):
        return [tuple(str(field) for field in lock[:4]) for lock in self.manager.ListInhibitors()]

    def close(self):
        for process in (self.mock, self.daemon):
            process.terminate()
            process.wait()


def updater_pid(updater):
    """The updater itself, below the emulated controller's host and the namespace wrapper."""
    for _ in range(100):
        for entry in os.listdir("/proc"):
            try:
                if entry.isdigit() and os.readlink(f"/proc/{entry}/exe") == updater.exe:
                    return int(entry)
            except OSError:
                pass
        time.sleep(0.05)
    raise h.Failure("the updater's process was not found")


def descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def lock_descriptor(updater, pid):
    """The inhibitor's descriptor, as the trace names it, and what it refers to."""
    line = next(l for l in updater.stderr().splitlines() if "logind inhibitor fd" in l)
    number = line.rsplit(" ", 1)[1]
    return number, os.readlink(f"/proc/{pid}/fd/{number}")


def lock_closed(pid, lock):
    number, target = lock
    try:
        return os.readlink(f"/proc/{pid}/fd/{number}") != target
    except OSError:
        return True


def start_update(args, display, folder, env, *host_options):
    updater = updater_beside(args, folder, display, "--version", "102", *host_options, env=env)
    updater.new_version = read_update_file(args.sample, os.path.join(os.path.dirname(args.exe), "krv-updfile"))[0]
    updater.wait_for("language")
    updater.click(h.RIGHT_BUTTON)
    updater.wait_for("ready")
    return updater


def with_mocked_logind(check, *host_options):
    def scenario(args, display, folder):
        bus = SystemBus(folder)
        try:
            updater = start_update(args, display, folder, {"DBUS_SYSTEM_BUS_ADDRESS": bus.address}, *host_options)
            try:
                pid = updater_pid(updater)
                expect(bus.locks() == [], f"a lock before Start: {bus.locks()}")
                before = descriptors(pid)
                updater.click(h.RIGHT_BUTTON)
                expect(h.wait_for(lambda: bus.locks() == [LOCK], timeout=10), f"locks in the update: {bus.locks()}")
                expect("sleep and shutdown held: logind inhibitor fd" in updater.stderr(), "the trace names no lock")
                check(updater, pid, (before, lock_descriptor(updater, pid)))
                expect(h.wait_for(lambda: bus.locks() == [], timeout=5), f"locks after the update: {bus.locks()}")
            finally:
                updater.close()
        finally:
            bus.close()
    return scenario


def released_at_the_end(updater, pid, held):
    """Released at the completed screen: its descriptor closed, no other left behind."""
    before, lock = held
    updater.wait_for("complete", timeout=120)
    expect(h.wait_for(lambda: lock_closed(pid, lock) and descriptors(pid) == before, timeout=5),
           f"{descriptors(pid)} descriptors after the update, {before} before it; the lock's {lock} "
           + ("closed" if lock_closed(pid, lock) else "still open"))
    expect(updater.quit_with(h.RIGHT_BUTTON) == 0, "exit code not 0")


def released_at_the_failed_screen(updater, pid, held):
    """The controller pulled in the middle of a record: released at the failed screen too
    (the pulled controller's own descriptors are gone as well)."""
    updater.wait_for("failed", timeout=120)
    expect(h.wait_for(lambda: lock_closed(pid, held[1]), timeout=5), f"the lock's descriptor {held[1]} is still open")
    expect(updater.quit_with(h.RIGHT_BUTTON) == 0, "exit code not 0")


def quit_held_until_the_end(updater, pid, held):
    """A SIGTERM in the middle of the records is held until the update has ended, then
    honoured: exit 0."""
    os.kill(pid, signal.SIGTERM)
    try:
        code = updater.proc.wait(120)
    except subprocess.TimeoutExpired:
        raise h.Failure("the held quit was not honoured after the update")
    state = updater.sim_state()
    expect(state is not None and state[0] == updater.new_version, f"the controller holds {state}, not the update")
    trace = updater.stderr()
    expect(code == 0, f"exit code {code}")
    for line in ("system quit: held until the update has ended", "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467",
                 "sleep and shutdown released"):
        expect(line in trace, f"the trace lacks {line!r}:\n{trace[-2000:]}")
    expect(trace.index("system quit: held") < trace.index("HID_UPDATE_ANS_COMPLETE"),
           "the quit was not held before the update ended")


def scenario_no_bus(args, display, folder):
    """No system bus at all: the update completes and the trace says nothing was held."""
    updater = start_update(args, display, folder,
                           {"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + os.path.join(folder, "no-bus")})
    try:
        updater.click(h.RIGHT_BUTTON)
        updater.wait_for("complete", timeout=120)
        expect("sleep and shutdown not held" in updater.stderr(), f"no trace line:\n{updater.stderr()[-2000:]}")
        expect(updater.quit_with(h.RIGHT_BUTTON) == 0, "exit code not 0")
    finally:
        updater.close()


# Mode, information, the start of record 1, then its tenth block.
SCENARIOS = {"released": with_mocked_logind(released_at_the_end),
             "released-failed": with_mocked_logind(released_at_the_failed_screen, "--unplug-at", "13"),
             "sigterm": with_mocked_logind(quit_held_until_the_end),
             "no-bus": scenario_no_bus}

if __name__ == "__main__":
    args = parse_args(SCENARIOS)
    sys.exit(h.run_scenario(args.scenario, SCENARIOS[args.scenario], args, folder_prefix="inhibit-"))
