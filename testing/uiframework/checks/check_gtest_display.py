"""Runs a GoogleTest program of the UI framework under a private Xvfb display
and Wine session of its own (tests whose windows need a real desktop, such as
a pop-up owned by a top-level window). It passes only when the program ends
with status 0, reports no failed test and passes at least one."""
import os
import re
import subprocess
import sys

import uicheck


def main():
    wine_run, exe, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    with uicheck.Display() as display:
        r = subprocess.run([wine_run, exe], env=prefix.env(display), stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=600)
    prefix.stop()
    out = r.stdout.decode("utf-8", "replace").replace("\r", "")
    print(out)
    passed = re.findall(r"^\[  PASSED  \] (\d+) test", out, re.M)
    check.expect(r.returncode == 0, "exit status 0 (got %d)" % r.returncode)
    check.expect("[  FAILED  ]" not in out, "no failed test")
    check.expect(bool(passed) and int(passed[-1]) >= 1, "at least one test passed")
    check.finish()


if __name__ == "__main__":
    main()
