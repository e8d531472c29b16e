"""What the end-to-end check scripts share: one line per check, the failures kept for
the verdict, and subprocess runs that capture text."""
import subprocess

failures = []


def check(ok, text):
    print(("ok   " if ok else "FAIL ") + text)
    if not ok:
        failures.append(text)


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def verdict():
    """The script's exit status; "ALL CHECKS PASSED" ends the output on success."""
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("ALL CHECKS PASSED")
    return 0


def end(failed):
    """The exit status for a script that kept its own list of failed checks."""
    for f in failed:
        print("FAIL " + f)
    if failed:
        return 1
    print("ALL CHECKS PASSED")
    return 0


def host(wine_run, exe, *args):
    """recovery-host under Wine with the given command line."""
    return run([wine_run, exe, *args], timeout=900)
