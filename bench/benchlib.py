"""What every benchmark here shares: the machine's facts as measured, alternating timed
runs with median and best, and a persistent wineserver."""
import os, platform, re, statistics, subprocess, threading, time


def run_quiet(cmd, stdout=subprocess.DEVNULL):
    """No pipes for Wine programs: the Wine services that a run starts inherit them and
    keep them open, and a reader of the pipe would wait for ever."""
    return subprocess.run(cmd, stdout=stdout, stderr=subprocess.DEVNULL).returncode


def machine_facts(build):
    """CPU model and count, kernel, Wine version, and whether the 32-bit code runs
    natively or under an emulator (seen on a running recovery-host process)."""
    model = "?"
    with open("/proc/cpuinfo") as f:
        m = re.search(r"model name\s*:\s*(.+)", f.read())
        if m:
            model = m.group(1).strip()
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    seen = {}

    def watch(stop):
        while not stop.is_set():
            for pid in os.listdir("/proc"):
                if not pid.isdigit():
                    continue
                try:
                    with open(f"/proc/{pid}/cmdline", "rb") as f:
                        if b"recovery-host" not in f.read():
                            continue
                    seen[pid] = os.readlink(f"/proc/{pid}/exe")
                except OSError:
                    pass
            time.sleep(0.02)

    stop = threading.Event()
    th = threading.Thread(target=watch, args=(stop,))
    th.start()
    # A run long enough to be seen: the usage text of a bare run, several times.
    for _ in range(5):
        run_quiet([os.path.join(build, "wine-run"), os.path.join(build, "bin/recovery-host.exe")])
    stop.set()
    th.join()
    exes = set(seen.values())
    emulated = any("qemu" in e for e in exes)
    how = "emulated (qemu user)" if emulated else ("native" if exes else "unknown (process not seen)")
    return (f"{os.cpu_count()} CPUs ({model}), {platform.system()} {platform.release()} {platform.machine()},"
            f" {wine}, 32-bit code runs {how}; load average {os.getloadavg()[0]:.2f} at start")


class Timed:
    """Runs of several sides, alternated, so that a slow phase of a shared machine falls
    on each side alike. The headline is the median; the best stands beside it."""

    def __init__(self):
        self.times = {}

    def add(self, side, seconds):
        self.times.setdefault(side, []).append(seconds)

    def median(self, side):
        return statistics.median(self.times[side])

    def best(self, side):
        return min(self.times[side])

    def show(self, side):
        t = self.times[side]
        return f"median {self.median(side):.3f} s, best {self.best(side):.3f} s ({len(t)} runs)"


def alternate(runs, sides):
    """sides: list of (name, callable returning seconds). Calls them in turn, `runs`
    rounds, after one untimed warm-up round; returns a Timed."""
    timed = Timed()
    for _, fn in sides:
        fn()
    for _ in range(runs):
        for name, fn in sides:
            timed.add(name, fn())
    return timed


class Wineserver:
    """A wineserver that outlives each run: otherwise some runs pay for bringing the
    server and its services up again."""

    def __init__(self, build):
        os.environ.setdefault("WINEPREFIX", os.path.join(build, "wineprefix"))
        os.environ["WINEARCH"] = "win32"

    def __enter__(self):
        subprocess.run(["wineserver", "-p"])  # 2 when one already runs: fine
        return self

    def __exit__(self, *exc):
        subprocess.run(["wineserver", "-k"])


def stamp():
    return time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
