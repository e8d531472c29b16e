#!/usr/bin/env python3
"""The harness's own check: a small ctest project in a scratch folder registers the
deliberately broken GoogleTest cases with the suite's own runner; ctest must report
every broken case Failed and the good case Passed. Also prints, for the record, the
exit status each broken case gives without the runner."""
import argparse
import os
import re
import shutil
import subprocess
import sys

EXPECTED = {
    "HarnessGood.Passes": "Passed",
    "HarnessBroken.FailsAnAssertion": "Failed",
    "HarnessBroken.FailsThenOverflowsTheStack": "Failed",
    "HarnessBroken.OverflowsTheStack": "Failed",
    "HarnessBroken.Crashes": "Failed",
    "HarnessBroken.EndsTheProcessEarly": "Failed",
}


def cmake_quote(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--ctest", required=True)
    ap.add_argument("--exe", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--plain", required=True, help="the emulator alone, without the verdict runner")
    ap.add_argument("runner", nargs="+")
    args = ap.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    with open(os.path.join(args.work, "CTestTestfile.cmake"), "w") as f:
        for name in EXPECTED:
            cmd = args.runner + [args.exe, "--gtest_filter=" + name, "--gtest_also_run_disabled_tests"]
            f.write("add_test(%s %s)\n" % (name, " ".join(cmake_quote(c) for c in cmd)))
            f.write("set_tests_properties(%s PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)\n" % name)

    out = subprocess.run([args.ctest, "--test-dir", args.work, "-j", "3", "--output-on-failure"],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                         timeout=900).stdout.decode("utf-8", "replace")
    print(out)
    got = {}
    for m in re.finditer(r"Test\s+#\d+: (\S+) \.*\s*(\*+)?([A-Za-z]+)", out):
        got[m.group(1)] = m.group(3)

    failures = []
    for name, want in EXPECTED.items():
        have = got.get(name, "missing")
        # ctest words a non-zero end as "Failed"; a signal would show as "Exception".
        if have != want:
            failures.append("%s: ctest says %s, expected %s" % (name, have, want))
        else:
            print("%s: %s, as it must" % (name, have))

    for name in EXPECTED:
        if name.startswith("HarnessBroken."):
            rc = subprocess.call([args.plain, args.exe, "--gtest_filter=" + name],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                 stdin=subprocess.DEVNULL, timeout=300)
            print("without the runner, %s exits with status %d" % (name, rc))

    for f in failures:
        print("FAIL " + f)
    if failures:
        return 1
    print("ALL CHECKS PASSED")  # the verdict runner's success line
    return 0


if __name__ == "__main__":
    sys.exit(main())
