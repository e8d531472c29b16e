#!/usr/bin/env python3
"""End-to-end runs of the install engine: the engine driver under Wine against the test
HTTP server (or nginx) on loopback, with the fake setup as the downloaded package.

    engine_e2e.py --build BUILD_DIR --case NAME      one case (ctest runs each)
    engine_e2e.py --build BUILD_DIR --list           the case names

Each case compares the whole event sequence (runs of 1002 collapse into one "1002 ..."),
and checks the requests the server saw, the setup's command line and the files left."""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from qv_http_server import Fault, TestServer  # noqa: E402

PKG_NAME = "__Package_TallowmereDataRecovery.exe"
MiB = 1048576
FAIL_TEXT = "安装包安装失败"


def win_path(p):
    return "Z:" + os.path.abspath(p).replace("/", "\\")


class Case:
    def __init__(self, build, name):
        self.build = build
        self.name = name
        self.work = os.path.join(build, "e2e", name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.install = os.path.join(self.work, "Program Files", "Tallowmere 中文 目录")
        self.script = os.path.join(self.work, "setup-script.txt")
        self.cmdlog = os.path.join(self.work, "setup-cmdline.txt")
        self.failures = []

    def package(self, size=2 * MiB, valid_exe=True):
        """The fake setup padded with a deterministic tail to `size` bytes."""
        if valid_exe:
            with open(os.path.join(self.build, "bin", "fake-setup.exe"), "rb") as f:
                data = f.read()
        else:
            data = b"this is not a program\r\n"
        pad = size - len(data)
        if pad < 0:
            raise SystemExit("fake setup is larger than the package size asked for")
        block = hashlib.sha256(self.name.encode()).digest() * 64
        tail = (block * (pad // len(block) + 1))[:pad]
        return data + tail

    def write_script(self, lines):
        with open(self.script, "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(lines) + "\n")

    def run_driver(self, url, extra=(), env_extra=None, timeout=600, driver=None):
        """url None: the driver takes the address from its configuration."""
        env = dict(os.environ)
        env["FAKE_SETUP_SCRIPT"] = win_path(self.script)
        env["FAKE_SETUP_LOG"] = win_path(self.cmdlog)
        env.setdefault("WINEDEBUG", "-all")
        if env_extra:
            env.update(env_extra)
        driver = driver or os.path.join(self.build, "bin", "engine-driver.exe")
        cmd = [os.path.join(self.build, "wine-run"), driver] + (["--url", url] if url is not None else []) + [
            "--dir", win_path(self.install), "--timeout", "500"] + list(extra)
        out_path = os.path.join(self.work, "driver-stdout.txt")
        err_path = os.path.join(self.work, "driver-stderr.txt")
        start = time.time()
        # Files, not pipes: Wine's helper processes may keep inherited pipes open.
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            rc = subprocess.call(cmd, stdout=out, stderr=err, env=env, timeout=timeout)
        self.elapsed = time.time() - start
        with open(out_path, "rb") as f:
            self.stdout = f.read().decode("utf-8", "replace")
        with open(err_path, "rb") as f:
            self.stderr = f.read().decode("utf-8", "replace")
        self.rc = rc
        self.events = [tuple(line.split("\t", 2)) for line in self.stdout.splitlines() if line]
        return rc

    def collapsed(self):
        out = []
        for ev in self.events:
            if ev[0] == "1002":
                if out and out[-1] == ("1002", "..."):
                    continue
                out.append(("1002", "..."))
            else:
                out.append(ev)
        return out

    def check(self, cond, what):
        if not cond:
            self.failures.append(what)

    def expect_events(self, golden, progress_required=False):
        """Progress is reported at most once a second, so a fast loopback transfer may
        show none: unless the case paces the server, 1002 runs are left out of both."""
        got = self.collapsed()
        if not progress_required:
            got = [e for e in got if e[0] != "1002"]
            golden = [e for e in golden if e[0] != "1002"]
        if got != golden:
            self.failures.append("event sequence differs:\n  got:      %r\n  expected: %r" % (got, golden))

    def finish(self):
        if self.failures:
            print("FAIL %s" % self.name)
            for f in self.failures:
                print("  - " + f)
            print("driver exit code %s, %.1f s" % (self.rc, self.elapsed))
            print("stdout:\n" + self.stdout[-4000:])
            print("stderr:\n" + self.stderr[-3000:])
            return 1
        print("PASS %s (%.1f s)" % (self.name, self.elapsed))
        return 0


DL_OK = [("1001", "1", ""), ("1002", "..."), ("1003", "0", "LibCurl")]
IST_START = [("2001", "0", ""), ("2002", "0", "")]

FULL_SCRIPT = [
    "line Encode=UTF8",
    "line Progress=0.25",
    "line InstPath=C:\\Program Files\\Tallowmere 中文",
    "line InstallVersion=2.1.0",
    "line ExePath=C:\\Program Files\\Tallowmere 中文\\TallowmereDataRecovery.exe",
    "line UninstExePath=C:\\T\\uninst.exe",
    "line UninstEp=C:\\T\\uninst.exe",
    "line StartupStyle= AutoStartup ",
    "line TopShowDetention=5000",
    "line FinsihCloseDetention=-1",
    "line StartUrl=http://example.invalid/welcome",
    "line Message=欢迎",
    "line Progress=1",
    "line State=Success",
]
FULL_EVENTS = DL_OK + IST_START + [
    ("2002", "0.25", ""),
    ("3000", "0", "C:\\Program Files\\Tallowmere 中文"),
    ("3001", "0", "C:\\Program Files\\Tallowmere 中文\\TallowmereDataRecovery.exe"),
    ("3002", "0", "C:\\T\\uninst.exe"),
    ("3003", "0", "C:\\T\\uninst.exe"),
    ("3005", "1", ""),
    ("3007", "5000", ""),
    ("3008", "4294967295", ""),
    ("3004", "0", "http://example.invalid/welcome"),
    ("3009", "0", "欢迎"),
    ("2002", "1", ""),
    ("2003", "0", ""),
]


def serve_package(srv, case, data, md5=None, redirect=True):
    md5 = md5 or hashlib.md5(data).hexdigest()
    path = "/dl/%s/setup.exe" % md5
    srv.files[path] = data
    if redirect:
        srv.redirects["/software/331"] = (302, srv.url("/mirror/331"))
        srv.redirects["/mirror/331"] = (301, srv.url(path))
        return srv.url("/software/331")
    return srv.url(path)


def expected_cmdline(case):
    inst = win_path(case.install)
    return ('"%s\\%s" /S -console=show -version=1.0.0 -adminact=true -authorizationact=true -dsc=true '
            '-ssc=true -instdir="%s" /D=%s' % (inst, PKG_NAME, inst, inst))


def read_cmdlines(case):
    if not os.path.exists(case.cmdlog):
        return []
    with open(case.cmdlog, encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.strip()]


TRACE_RE = re.compile(r"<P\d{5,}><T\d{5,}><\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}>\(([A-Za-z_:]+)\)<\d{4,}>: ")


def check_retry_pauses(c, gets, pause=0.5):
    """The client sleeps between tries: from the end of one answer to the next request
    (both seen by the server, so load can only lengthen the gap)."""
    gaps = [b["time"] - a["end"] for a, b in zip(gets, gets[1:])]
    c.check(all(g >= pause - 0.01 for g in gaps), "no pause of %.1f s between tries: %r" % (pause, gaps))


# ---- cases ------------------------------------------------------------------------------

def case_normal(c, srv):
    data = c.package()
    url = serve_package(srv, c, data)
    copy = os.path.join(c.work, "ran.exe")
    srv.faults.append(Fault("pace", method="GET", seconds=0.3))
    c.write_script(["copyself " + win_path(copy)] + FULL_SCRIPT)
    # The trace goes to the debugger output, which Wine prints on this channel.
    c.run_driver(url, env_extra={"WINEDEBUG": "warn+seh"})
    c.expect_events(FULL_EVENTS, progress_required=True)
    c.check(c.rc == 0, "exit code %s, expected 0" % c.rc)
    c.check(read_cmdlines(c) == [expected_cmdline(c)], "setup command line %r, expected %r" % (
        read_cmdlines(c), expected_cmdline(c)))
    c.check(open(copy, "rb").read() == data if os.path.exists(copy) else False, "the setup that ran differs from the package")
    c.check(not os.path.exists(os.path.join(c.install, PKG_NAME)), "package not deleted after the setup")
    c.check(not os.path.exists(os.path.join(c.install, PKG_NAME + ".part")), "part file left")
    heads, gets = srv.requests("HEAD"), srv.requests("GET")
    c.check(len(gets) == 1 and gets[0]["range"] is None, "one whole GET expected, got %r" % gets)
    c.check(all((g["accept_encoding"] or "identity") == "identity" for g in gets),
            "a compressed body was advertised as acceptable: %r" % gets)
    c.check(heads and heads[0]["path"] == "/software/331", "first probe not on the given address")
    c.check(gets and gets[0]["path"].startswith("/dl/"), "transfer did not use the address after redirects")
    traces = [line for line in c.stderr.splitlines() if ":OutputDebugStringA " in line]
    funcs = set(m.group(1) for m in (TRACE_RE.search(t) for t in traces) if m)
    c.check(len(traces) > 20, "only %d trace lines captured" % len(traces))
    bad = [t for t in traces if not re.search(r':OutputDebugStringA "' + TRACE_RE.pattern + r'.*\\r\\n"$', t)]
    c.check(not bad, "trace lines without the prefix or the line end: %r" % bad[:3])
    for fn in ("CurlClient::Start", "CDownloadInstaller::Start", "Utils::Thread::CallBack",
               "CDownloadInstaller::OnDownload", "CDownloadInstaller::OnSetup"):
        c.check(fn in funcs, "no trace line of %s (saw %s)" % (fn, sorted(funcs)))
    c.check(any("DL_TYPE=1" in t for t in traces), "no DL_TYPE trace line")
    c.check(any("THREAD BEGIN" in t and "<0101>" in t for t in traces), "THREAD BEGIN not at line 101")


def case_no_md5_segment(c, srv):
    data = c.package()
    srv.files["/pkg/setup.exe"] = data
    c.write_script(["line State=Success"])
    c.run_driver(srv.url("/pkg/setup.exe"))
    c.expect_events([("1001", "1", ""), ("1002", "..."), ("1006", "0", "curl获取url-md5失败"),
                     ("1003", "0", "LibCurl")] + IST_START + [("2003", "0", "")])


def case_md5_mismatch(c, srv):
    data = c.package()
    url = serve_package(srv, c, data, md5="0123456789abcdef0123456789abcdef")
    c.write_script(["line State=Success"])
    c.run_driver(url)
    c.expect_events(MD5_FAIL_TWICE)
    gets = srv.requests("GET")
    c.check(len(gets) == 2 and all(g["range"] is None for g in gets), "two whole GETs expected: %r" % gets)
    c.check(c.rc == 1, "exit code %s" % c.rc)
    c.check(not os.path.exists(os.path.join(c.install, PKG_NAME)), "failed package not deleted")
    c.check(read_cmdlines(c) == [], "the setup ran after a failed download")


def case_md5_upper_case(c, srv):
    data = c.package()
    url = serve_package(srv, c, data, md5=hashlib.md5(data).hexdigest().upper())
    c.write_script(["line State=Success"])
    c.run_driver(url)
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")])


def case_http_500(c, srv):
    data = c.package()
    url = serve_package(srv, c, data)
    srv.faults.append(Fault("500", method="GET"))
    c.run_driver(url)
    c.expect_events([("1001", "1", ""), ("1004", "22", "LibCurl")])
    gets = srv.requests("GET")
    c.check(len(gets) == 6, "%d GETs for code 22, expected 6" % len(gets))
    check_retry_pauses(c, gets)


def case_partial_18(c, srv):
    data = c.package(2 * MiB)
    url = serve_package(srv, c, data)
    srv.faults.append(Fault("drop", method="GET", after=65536))
    c.run_driver(url)
    c.expect_events([("1001", "1", ""), ("1002", "..."), ("1004", "18", "LibCurl")])
    gets = srv.requests("GET")
    c.check(len(gets) == 12, "%d GETs for code 18, expected 12" % len(gets))
    ranges = [g["range"] for g in gets]
    want = [None] + ["bytes=%d-" % (65536 * i) for i in range(1, 12)]
    c.check(ranges == want, "resume ranges %r" % ranges)
    check_retry_pauses(c, gets)


def case_budget_mix(c, srv):
    """Codes 22, 18, 18, 22, 22, 22 spend 2+1+1+2+2+2 = 10 of 12: a seventh try follows."""
    data = c.package(2 * MiB)
    url = serve_package(srv, c, data)
    for n in (1, 4, 5, 6, 7):
        srv.faults.append(Fault("500", method="GET", nth=n))
    for n in (2, 3):
        srv.faults.append(Fault("drop", method="GET", nth=n, after=65536))
    c.run_driver(url)
    c.expect_events([("1001", "1", ""), ("1002", "..."), ("1004", "22", "LibCurl")])
    c.check(len(srv.requests("GET")) == 7, "%d GETs, expected 7" % len(srv.requests("GET")))


def case_refused(c, srv):
    data = c.package()
    url = serve_package(srv, c, data)
    srv.faults.append(Fault("refuse", method="GET"))
    c.run_driver(url)
    c.expect_events([("1001", "1", ""), ("1004", "52", "LibCurl")])
    c.check(len(srv.requests("GET")) == 6, "%d GETs, expected 6" % len(srv.requests("GET")))


def case_too_small(c, srv):
    srv.files["/dl/0123456789abcdef0123456789abcdef/setup.exe"] = b"x" * (900 * 1024)
    c.run_driver(srv.url("/dl/0123456789abcdef0123456789abcdef/setup.exe"))
    c.expect_events([("1001", "1", ""), ("1004", "-998", "LibCurl")])
    c.check(srv.requests("GET") == [], "a package under 1 MiB was transferred")
    c.check(not os.path.exists(os.path.join(c.install, PKG_NAME + ".part")), "part file left")


def case_no_length(c, srv):
    data = c.package()
    url = serve_package(srv, c, data, redirect=False)
    srv.faults.append(Fault("chunked", method="*"))
    srv.faults.append(Fault("500", method="HEAD"))
    c.run_driver(url)
    c.expect_events([("1001", "1", ""), ("1004", "-998", "LibCurl")])
    c.check(srv.requests("GET") == [], "transferred without a length")


def case_resume_after_drop(c, srv):
    data = c.package(4 * MiB)
    url = serve_package(srv, c, data)
    srv.faults.append(Fault("drop", method="GET", nth=1, after=3 * MiB))
    srv.faults.append(Fault("pace", method="GET", nth=2, seconds=1.2))
    copy = os.path.join(c.work, "ran.exe")
    c.write_script(["copyself " + win_path(copy), "line State=Success"])
    c.run_driver(url)
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")], progress_required=True)
    # Progress of the resumed try counts the bytes already on disk: never below 3/4.
    c.check(all(float(e[1]) >= 0.75 for e in c.events if e[0] == "1002"),
            "resumed progress does not count the part file: %r" % [e for e in c.events if e[0] == "1002"])
    ranges = [g["range"] for g in srv.requests("GET")]
    c.check(ranges == [None, "bytes=3145728-"], "ranges %r" % ranges)
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "resumed package is not byte-identical")


def case_stale_part(c, srv):
    data = c.package()
    url = serve_package(srv, c, data)
    os.makedirs(c.install, exist_ok=True)
    with open(os.path.join(c.install, PKG_NAME + ".part"), "wb") as f:
        f.write(b"stale bytes of another package" * 5000)
    copy = os.path.join(c.work, "ran.exe")
    c.write_script(["copyself " + win_path(copy), "line State=Success"])
    c.run_driver(url)
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")])
    ranges = [g["range"] for g in srv.requests("GET")]
    c.check(ranges == [None], "a stale part file was resumed: %r" % ranges)
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package not byte-identical")


def case_ignored_range(c, srv):
    data = c.package()
    url = serve_package(srv, c, data)
    srv.faults.append(Fault("drop", method="GET", nth=1, after=MiB))
    srv.faults.append(Fault("norange", method="GET", start=2))
    copy = os.path.join(c.work, "ran.exe")
    c.write_script(["copyself " + win_path(copy), "line State=Success"])
    c.run_driver(url)
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")])
    ranges = [g["range"] for g in srv.requests("GET")]
    c.check(ranges == [None, "bytes=1048576-", None], "ranges %r" % ranges)
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package not byte-identical")


def case_gzip_and_chunked(c, srv):
    data = c.package()
    url = serve_package(srv, c, data)
    srv.faults.append(Fault("gzip", method="GET"))
    srv.faults.append(Fault("chunked", method="GET"))
    copy = os.path.join(c.work, "ran.exe")
    c.write_script(["copyself " + win_path(copy), "line State=Success"])
    c.run_driver(url)
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")])
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package not byte-identical")


def case_stall(c, srv):
    """A server that stops sending and never resumes: only the client's stall limit can
    end the try, and the next try resumes where the first one stopped."""
    data = c.package()
    url = serve_package(srv, c, data)
    srv.faults.append(Fault("stall", method="GET", nth=1, after=MiB, seconds=None))
    copy = os.path.join(c.work, "ran.exe")
    c.write_script(["copyself " + win_path(copy), "line State=Success"])
    c.run_driver(url)
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")])
    gets = srv.requests("GET")
    ranges = [g["range"] for g in gets]
    c.check(ranges == [None, "bytes=1048576-"], "ranges %r" % ranges)
    c.check(gets and gets[0].get("stall_ended_by") == "client",
            "the stalled try was not given up by the client: %r" % gets[:1])
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package not byte-identical")


def case_package_path_blocked(c, srv):
    """A finished part file that cannot be moved into place (a folder holds the package's
    name) is a failed try: no success is reported and no setup runs."""
    data = c.package()
    url = serve_package(srv, c, data)
    os.makedirs(os.path.join(c.install, PKG_NAME))
    c.write_script(["line State=Success"])
    c.run_driver(url)
    c.expect_events([("1001", "1", ""), ("1002", "..."), ("1004", "-995", "LibCurl")])
    c.check(read_cmdlines(c) == [], "the setup ran although the package was never in place")
    # The part file is complete after the first try: later tries only retry the move.
    c.check(len(srv.requests("GET")) == 1, "%d GETs, expected 1" % len(srv.requests("GET")))


MD5_FAIL_TWICE = [("1001", "1", ""), ("1002", "..."), ("1006", "0", "curl文件md5校验失败"), ("1005", "0", "LibCurl"),
                  ("1001", "1", ""), ("1002", "..."), ("1006", "0", "curl文件md5校验失败"), ("1004", "0", "LibCurl")]


def case_redirect_loop(c, srv):
    """A redirect loop ends in a failure event with libcurl's own code, after a bounded
    number of requests."""
    srv.redirects["/loop"] = (302, srv.url("/loop"))
    c.run_driver(srv.url("/loop"))
    c.expect_events([("1001", "1", ""), ("1004", "47", "LibCurl")])
    c.check(len(srv.requests()) <= 6 * 31, "%d requests for a redirect loop" % len(srv.requests()))


def case_complete_part_kept(c, srv):
    """The whole body arrived but the try failed (no last chunk): the next try finds the
    part complete, asks for nothing more, checks the digest and installs."""
    data = c.package()
    url = serve_package(srv, c, data)
    srv.faults.append(Fault("nolastchunk", method="GET", nth=1))
    copy = os.path.join(c.work, "ran.exe")
    c.write_script(["copyself " + win_path(copy), "line State=Success"])
    c.run_driver(url)
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")])
    c.check(len(srv.requests("GET")) == 1, "GETs %r" % [g["range"] for g in srv.requests("GET")])
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package not byte-identical")


def case_digest_not_hidden(c, srv):
    """The digest of the given address is checked although a query or a fragment holds
    "/" or a redirect leads to an address without one; a matching one still passes."""
    data = c.package()
    good = hashlib.md5(data).hexdigest()
    bad = "0123456789abcdef0123456789abcdef"
    srv.files["/plain/setup.exe"] = data
    for digest in (good, bad):
        srv.files["/dl/%s/setup.exe" % digest] = data
    srv.redirects["/dl/%s/moved.exe" % bad] = (302, srv.url("/plain/setup.exe"))
    c.write_script(["line State=Success"])
    for path, events in (("/dl/%s/setup.exe?ref=a/b" % bad, MD5_FAIL_TWICE),
                         ("/dl/%s/setup.exe#x/y" % bad, MD5_FAIL_TWICE),
                         ("/dl/%s/moved.exe" % bad, MD5_FAIL_TWICE),
                         ("/dl/%s/setup.exe?ref=a/b" % good, DL_OK + IST_START + [("2003", "0", "")])):
        c.run_driver(srv.url(path))
        c.expect_events(events)


def case_short_body_no_digest(c, srv):
    """A close-delimited body shorter than the announced length is a failed try, also
    where no digest could tell: the next try resumes."""
    data = c.package()
    srv.files["/pkg/setup.exe"] = data
    srv.faults.append(Fault("closeshort", method="GET", nth=1, after=MiB))
    copy = os.path.join(c.work, "ran.exe")
    c.write_script(["copyself " + win_path(copy), "line State=Success"])
    c.run_driver(srv.url("/pkg/setup.exe"))
    c.expect_events([("1001", "1", ""), ("1002", "..."), ("1006", "0", "curl获取url-md5失败"),
                     ("1003", "0", "LibCurl")] + IST_START + [("2003", "0", "")])
    ranges = [g["range"] for g in srv.requests("GET")]
    c.check(ranges == [None, "bytes=1048576-"], "ranges %r" % ranges)
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package not byte-identical")


def case_silent_server(c, srv):
    """A server that accepts and never answers: every try ends at the time limit and the
    failure says time-out (28), not "length not announced"."""
    import socket
    import threading
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    held, stop = [], threading.Event()

    def accept():
        listener.settimeout(0.5)
        while not stop.is_set():
            try:
                held.append(listener.accept()[0])
            except OSError:
                pass
    t = threading.Thread(target=accept, daemon=True)
    t.start()
    try:
        c.run_driver("http://127.0.0.1:%d/dl/x/setup.exe" % listener.getsockname()[1])
    finally:
        stop.set()
        t.join()
        for conn in held:
            conn.close()
        listener.close()
    c.expect_events([("1001", "1", ""), ("1004", "28", "LibCurl")])
    c.check(1 <= len(held) <= 6, "%d connections, expected one probe per try" % len(held))


def case_raw_space_in_address(c, srv):
    data = c.package()
    md5 = hashlib.md5(data).hexdigest()
    srv.files["/dl/%s/my%%20setup.exe" % md5] = data
    c.write_script(["line State=Success"])
    c.run_driver(srv.url("/dl/%s/my setup.exe" % md5))
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")])


# ---- two ranges (DownloadType 3) ------------------------------------------------------

MT = ["--type", "3"]
MT_OK = [("1001", "1", ""), ("1002", "..."), ("1003", "0", "LibCurl")]
TWO_RANGES = ["bytes=0-13107199", "bytes=13107200-26214400"]
PART1 = "bytes=13107200-"


def mt_run(c, srv, size=26214401, faults=(), events_mid=(), progress=False, redirect=True):
    """One two-range install of a package of `size` bytes; returns the package."""
    data = c.package(size)
    url = serve_package(srv, c, data, redirect=redirect)
    srv.faults.extend(faults)
    copy = os.path.join(c.work, "ran.exe")
    c.write_script(["copyself " + win_path(copy), "line State=Success"])
    c.run_driver(url, extra=MT, env_extra={"WINEDEBUG": "warn+seh"})
    c.expect_events(list(events_mid) + MT_OK + IST_START + [("2003", "0", "")], progress_required=progress)
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package not byte-identical")
    left = [f for f in os.listdir(c.install) if f.startswith(PKG_NAME)] if os.path.isdir(c.install) else []
    c.check(left == [], "files left in the install folder: %r" % left)
    return data


def gets_by_range(srv, prefix):
    return [g for g in srv.requests("GET") if (g["range"] or "").startswith(prefix)]


def gets_of_second_part(srv):
    return [g for g in srv.requests("GET") if (g["range"] or "").endswith("-26214400")]


def case_mt_two_ranges(c, srv):
    """26,214,401 bytes: two ranges at the same time, the second one byte longer."""
    mt_run(c, srv, faults=[Fault("pace", method="GET", seconds=0.05)], progress=True)
    gets = srv.requests("GET")
    c.check(sorted(g["range"] for g in gets) == TWO_RANGES, "ranges %r" % [g["range"] for g in gets])
    if len(gets) == 2:
        c.check(gets[1]["time"] < gets[0]["end"], "the two ranges did not run at the same time")
    c.check(all(g["accept_encoding"] == "identity" for g in gets), "a compressed body was acceptable")


def case_mt_one_range(c, srv):
    mt_run(c, srv, size=20971519)
    c.check([g["range"] for g in srv.requests("GET")] == ["bytes=0-20971518"],
            "ranges %r" % [g["range"] for g in srv.requests("GET")])


def case_mt_drop_resume(c, srv):
    """A dropped range asks again for its missing bytes only."""
    mt_run(c, srv, faults=[Fault("drop", range=PART1, times=1, after=MiB)])
    c.check([g["range"] for g in gets_of_second_part(srv)] == [PART1 + "26214400", "bytes=14155776-26214400"],
            "second range %r" % [g["range"] for g in gets_of_second_part(srv)])
    c.check(len(gets_by_range(srv, "bytes=0-")) == 1, "the first range was fetched again")


def case_mt_complete_part_no_request(c, srv):
    """The first range fails through its whole budget; after the retry only it is
    fetched: the complete second part gets no request."""
    mt_run(c, srv, faults=[Fault("500", range="bytes=0-", times=7), Fault("pace", range=PART1, seconds=0.1)],
           events_mid=[("1001", "1", ""), ("1002", "..."), ("1005", "22", "LibCurl")])
    c.check(len(gets_by_range(srv, "bytes=0-")) == 8, "%d requests of the first range, expected 7 + 1"
            % len(gets_by_range(srv, "bytes=0-")))
    c.check(len(gets_by_range(srv, PART1)) == 1, "the complete second part was asked for again")


def case_mt_final_failure_leaves_nothing(c, srv):
    """A range that fails in both runs ends the download; the other, complete, part is
    not left behind for nobody to resume."""
    data = c.package(26214401)
    url = serve_package(srv, c, data)
    srv.faults.extend([Fault("500", range="bytes=0-"), Fault("pace", range=PART1, seconds=0.1)])
    c.run_driver(url, extra=MT)
    c.expect_events([("1001", "1", ""), ("1002", "..."), ("1005", "22", "LibCurl"),
                     ("1001", "1", ""), ("1004", "22", "LibCurl")])
    c.check(len(gets_of_second_part(srv)) == 1, "the complete second part was asked for again")
    left = [f for f in os.listdir(c.install) if f.startswith(PKG_NAME)] if os.path.isdir(c.install) else []
    c.check(left == [], "files left after the failure: %r" % left)


def case_mt_stall(c, srv):
    """A range that stalls is given up by the client (time-out, 28) and resumed."""
    mt_run(c, srv, faults=[Fault("stall", range=PART1, times=1, after=MiB, seconds=None)])
    part1 = gets_of_second_part(srv)
    c.check([g["range"] for g in part1] == [PART1 + "26214400", "bytes=14155776-26214400"],
            "second range %r" % [g["range"] for g in part1])
    c.check(part1 and part1[0].get("stall_ended_by") == "client", "the client did not give the stall up")
    c.check("CurlDownLoader Code=28" in c.stderr, "no time-out code traced")


def case_mt_ignored_range(c, srv):
    """A server that answers every range with the whole file: the second part is never
    filled from offset 0; the retry takes the file as one range."""
    mt_run(c, srv, faults=[Fault("norange")], events_mid=[("1001", "1", ""), ("1002", "..."),
                                                        ("1005", "33", "LibCurl")])


def case_mt_wrong_content_range(c, srv):
    mt_run(c, srv, faults=[Fault("badrange", range=PART1, times=1, after=17)],
           events_mid=[("1001", "1", ""), ("1002", "..."), ("1005", "33", "LibCurl")])


def case_mt_redirect_mid(c, srv):
    """A range request redirected elsewhere is followed, with its range."""
    data = c.package(26214401)
    srv.files["/mirror/setup.exe"] = data
    mt_run(c, srv, faults=[Fault("redirect", range=PART1, times=1, target="/mirror/setup.exe")])
    mirror = [g for g in srv.requests("GET") if g["path"] == "/mirror/setup.exe"]
    c.check([g["range"] for g in mirror] == [PART1 + "26214400"], "mirror requests %r" % mirror)


def case_mt_changed_file(c, srv):
    """The file changes between the two ranges: the digest catches the merged package
    and the retry fetches both ranges again."""
    data = c.package(26214401)
    other = bytearray(data)
    other[20000000:20000010] = b"changed!!!"
    path = "/dl/%s/setup.exe" % hashlib.md5(data).hexdigest()
    srv.alt_files[path] = bytes(other)
    mt_run(c, srv, faults=[Fault("alt", range=PART1, times=1)],
           events_mid=[("1001", "1", ""), ("1002", "..."), ("1006", "0", "mtcurl文件md5校验失败"),
                       ("1005", "0", "LibCurl")])
    c.check(sorted(g["range"] for g in srv.requests("GET")) == sorted(TWO_RANGES * 2),
            "ranges %r" % [g["range"] for g in srv.requests("GET")])


def case_mt_failures(c, srv):
    """Forced gzip fails both runs explicitly; a missing digest is reported and the
    package still installs; no address or a tiny file fails at the probe."""
    data = c.package(26214401)
    url = serve_package(srv, c, data)
    srv.faults.append(Fault("gzipforce"))
    c.run_driver(url, extra=MT)
    c.expect_events([("1001", "1", ""), ("1005", "61", "LibCurl"), ("1001", "1", ""), ("1004", "61", "LibCurl")])
    c.check(read_cmdlines(c) == [], "the setup ran after a failed download")
    left = [f for f in os.listdir(c.install) if f.startswith(PKG_NAME)] if os.path.isdir(c.install) else []
    c.check(left == [], "files left after the failure: %r" % left)
    srv.faults[:] = []
    srv.files["/pkg/setup.exe"] = data
    srv.files["/tiny/setup.exe"] = b"x" * 255
    c.write_script(["line State=Success"])
    c.run_driver(srv.url("/pkg/setup.exe"), extra=MT)
    c.expect_events([("1001", "1", ""), ("1006", "0", "mtcurl获取url-md5失败"), ("1003", "0", "LibCurl")]
                    + IST_START + [("2003", "0", "")])
    for path in ("/missing/setup.exe", "/tiny/setup.exe"):
        c.run_driver(srv.url(path), extra=MT)
        c.expect_events([("1001", "1", ""), ("1004", "0", "LibCurl")])


def case_mt_package_path_blocked(c, srv):
    """The merged package cannot take its name (a folder holds it): a failed run, twice,
    never a success, and nothing left behind."""
    data = c.package(26214401)
    url = serve_package(srv, c, data)
    os.makedirs(os.path.join(c.install, PKG_NAME))
    c.write_script(["line State=Success"])
    c.run_driver(url, extra=MT)
    c.expect_events([("1001", "1", ""), ("1002", "..."), ("1005", "23", "LibCurl"),
                     ("1001", "1", ""), ("1002", "..."), ("1004", "23", "LibCurl")])
    c.check(read_cmdlines(c) == [], "the setup ran although the package was never in place")
    left = [f for f in os.listdir(c.install) if f.startswith(PKG_NAME + "_")]
    c.check(left == [], "part files left: %r" % left)


# ---- the system's URL download (DownloadType 2) ----------------------------------------

WIN = ["--type", "2"]
INET_E_DOWNLOAD_FAILURE = str(-2146697208)


def case_win_download(c, srv):
    """A normal download through the system's service, then one whose first try drops."""
    data = c.package()
    url = serve_package(srv, c, data, redirect=False)
    copy = os.path.join(c.work, "ran.exe")
    c.write_script(["copyself " + win_path(copy), "line State=Success"])
    c.run_driver(url, extra=WIN)
    c.expect_events([("1001", "1", ""), ("1003", "0", "URLDownloadToFile")] + IST_START + [("2003", "0", "")])
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package not byte-identical")
    before = len(srv.requests("GET"))
    srv.faults.append(Fault("drop", nth=before + 1, after=MiB))
    os.remove(copy)
    c.run_driver(url, extra=WIN)
    c.expect_events([("1001", "1", ""), ("1003", "0", "URLDownloadToFile")] + IST_START + [("2003", "0", "")])
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package after a drop not byte-identical")
    # A local "file:///" address goes to the service as it is (a blank stays a blank).
    local = os.path.join(c.work, "local", hashlib.md5(data).hexdigest(), "my setup.exe")
    os.makedirs(os.path.dirname(local))
    with open(local, "wb") as f:
        f.write(data)
    os.remove(copy)
    c.run_driver("file:///" + win_path(local).replace("\\", "/"), extra=WIN)
    c.expect_events([("1001", "1", ""), ("1003", "0", "URLDownloadToFile")] + IST_START + [("2003", "0", "")])
    c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package from a local address differs")
    # A chunked reply has no length: progress must not come from a maximum of 0.
    srv.faults[:] = [Fault("chunked")]
    c.run_driver(url, extra=WIN)
    c.expect_events([("1001", "1", ""), ("1003", "0", "URLDownloadToFile")] + IST_START + [("2003", "0", "")])
    values = [float(e[1]) for e in c.events if e[0] == "1002"]
    c.check(all(0 <= v <= 1 for v in values), "progress values out of range: %r" % values)


def case_win_404(c, srv):
    """The service saves a 404's error page as if it were the file: three failed tries."""
    c.run_driver(srv.url("/dl/0123456789abcdef0123456789abcdef/setup.exe"), extra=WIN)
    c.expect_events([("1001", "1", ""), ("1004", INET_E_DOWNLOAD_FAILURE, "URLDownloadToFile")])
    c.check(len(srv.requests("GET")) == 3, "%d GETs, expected 3" % len(srv.requests("GET")))
    check_retry_pauses(c, srv.requests("GET"), pause=1.0)
    c.check(not os.path.exists(os.path.join(c.install, PKG_NAME)), "the error page was left as the package")


def _setup_case(c, srv, script, tail, valid_exe=True):
    data = c.package(valid_exe=valid_exe)
    url = serve_package(srv, c, data)
    c.write_script(script)
    c.run_driver(url)
    c.expect_events(DL_OK + IST_START + tail)
    c.check(c.rc == (0 if tail[-1][0] == "2003" else 1), "exit code %s" % c.rc)
    c.check(not os.path.exists(os.path.join(c.install, PKG_NAME)), "package not deleted")


def case_setup_error_line(c, srv):
    _setup_case(c, srv, ["line Encode=UTF8", "line Progress=0.5", "line Error=磁盘空间不足", "line State=Success"],
                [("2002", "0.5", ""), ("2004", "1000", "磁盘空间不足")])


def case_setup_fail_after_burst(c, srv):
    _setup_case(c, srv, ["burst 400 Progress=0.1", "split State=Fail"],
                [("2002", "0.1", "")] * 400 + [("2004", "0", FAIL_TEXT)])


def case_setup_crash(c, srv):
    _setup_case(c, srv, ["line Progress=0.2", "stderr 65536", "crash"], [("2002", "0.2", ""), ("2004", "0", FAIL_TEXT)])


def case_setup_exit_code(c, srv):
    _setup_case(c, srv, ["line InstPath=C:\\x", "exit 5"], [("3000", "0", "C:\\x"), ("2004", "0", FAIL_TEXT)])


def case_setup_cannot_start(c, srv):
    _setup_case(c, srv, [], [("2004", "2", "")], valid_exe=False)


def case_options_in_cmdline(c, srv):
    data = c.package()
    url = serve_package(srv, c, data)
    c.write_script(["line State=Success"])
    c.run_driver(url, extra=["--lang", "zh-TW", "--dsc", "false", "--adminact", "false",
                             "-instcmd=-channel=7 -x", "-downloadtype=3", "--type", "1"])
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")])
    inst = win_path(c.install)
    want = ('"%s\\%s" /S -console=show -version=1.0.0 -adminact=false -authorizationact=true -dsc=false '
            '-ssc=true -inslang="zh-TW" -channel=7 -x -instdir="%s" /D=%s' % (inst, PKG_NAME, inst, inst))
    c.check(read_cmdlines(c) == [want], "command line %r, expected %r" % (read_cmdlines(c), want))


def case_ini_beside_the_program(c, srv):
    """The configuration object is built before main and reads the INI beside the program:
    a copy of the driver with no --url takes the address and the extra command from it."""
    data = c.package()
    url = serve_package(srv, c, data)
    prog = os.path.join(c.work, "prog")
    os.makedirs(prog)
    driver = os.path.join(prog, "engine-driver.exe")
    shutil.copy(os.path.join(c.build, "bin", "engine-driver.exe"), driver)
    with open(os.path.join(prog, "QuorvInstallerConfig.ini"), "w", newline="\r\n") as f:
        f.write("[Install]\nDownloadUrl=%s\nInstCmd=-fromini=1\n" % url)
    c.write_script(["line State=Success"])
    c.run_driver(None, driver=driver)
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")])
    heads = srv.requests("HEAD")
    c.check(heads and heads[0]["path"] == "/software/331", "the address of the INI file was not used: %r" % heads)
    cmd = read_cmdlines(c)
    c.check(len(cmd) == 1 and " -fromini=1 -instdir=" in cmd[0], "the INI's extra command is missing: %r" % cmd)


def case_type_single_stream(c, srv):
    """Every type other than 2 and 3 selects the single-stream downloader."""
    data = c.package()
    url = serve_package(srv, c, data)
    c.write_script(["line State=Success"])
    for t in ("0", "4", "-1"):
        c.run_driver(url, extra=["-downloadtype=" + t])
        c.expect_events(DL_OK + IST_START + [("2003", "0", "")])


UNI_FAIL_TEXT = "安装包卸载失败"


def old_version(c):
    """An installed old version in a folder with blanks and non-Latin letters: its
    uninstaller is the fake one. Returns (uninstaller path, temp folder for the run)."""
    old_dir = os.path.join(c.work, "Old Version 旧版")
    os.makedirs(old_dir)
    old = os.path.join(old_dir, "uninst.exe")
    shutil.copy(os.path.join(c.build, "bin", "fake-uninstaller.exe"), old)
    temp = os.path.join(c.work, "temp dir 临时")
    os.makedirs(temp)
    return old, temp


def run_with_old_version(c, srv, mode, extra=(), env_extra=None, url=None):
    old, temp = old_version(c)
    env = {"FAKE_UNINSTALL": mode, "FAKE_UNINSTALL_LOG": win_path(os.path.join(c.work, "uninstall-log.txt"))}
    env.update(env_extra or {})
    c.run_driver(url or srv.url("/software/331"), extra=["--old-uninstaller", win_path(old), "--temp", win_path(temp)]
                 + list(extra), env_extra=env)
    return old, temp


def uninstall_log(c):
    path = os.path.join(c.work, "uninstall-log.txt")
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.strip()]


def case_uninstall_success(c, srv):
    """The old version goes first; its copy runs from the temporary folder, quoted, with
    the old folder last; the download follows its success."""
    data = c.package()
    url = serve_package(srv, c, data)
    c.write_script(["line State=Success"])
    old, temp = run_with_old_version(c, srv, "success", url=url)
    c.expect_events([("5002", "0", ""), ("5002", "0.5", ""), ("5003", "0", "")] + DL_OK + IST_START
                    + [("2003", "0", "")])
    copy = win_path(temp) + "\\~QuorvTemp.92482B06FB471E17\\\\TallowmereDataRecovery_un_asa.exe"
    want = '"%s" /S -adminact=false -authorizationact=true -console=show _?=%s' % (copy, win_path(os.path.dirname(old)))
    c.check(uninstall_log(c) == [want], "uninstaller command line %r, expected %r" % (uninstall_log(c), want))
    c.check(c.rc == 0, "exit code %s" % c.rc)


def _uninstall_failure(c, srv, mode, tail):
    run_with_old_version(c, srv, mode)
    c.expect_events([("5002", "0", "")] + tail)
    c.check(srv.requests() == [], "downloaded although the old version was not removed: %r" % srv.requests())
    c.check(c.rc == 1, "exit code %s" % c.rc)
    c.check(len(uninstall_log(c)) == 1, "the uninstaller ran %d times" % len(uninstall_log(c)))


def case_uninstall_error_line(c, srv):
    _uninstall_failure(c, srv, "error", [("5002", "0.2", ""), ("5005", "0", "卸载出错")])


def case_uninstall_fail_after_burst(c, srv):
    _uninstall_failure(c, srv, "burst-fail", [("5002", "0.1", "")] * 400 + [("5005", "0", UNI_FAIL_TEXT)])


def case_uninstall_crash(c, srv):
    _uninstall_failure(c, srv, "crash", [("5002", "0.3", ""), ("5005", "0", UNI_FAIL_TEXT)])


def case_uninstall_success_then_error(c, srv):
    """Only the first final line acts: one 5003, one download, no 5005."""
    data = c.package()
    url = serve_package(srv, c, data)
    c.write_script(["line State=Success"])
    run_with_old_version(c, srv, "success-then-error", url=url)
    c.expect_events([("5002", "0", ""), ("5003", "0", "")] + DL_OK + IST_START + [("2003", "0", "")])
    c.check(len(srv.requests("GET")) == 1, "%d GETs, expected one download" % len(srv.requests("GET")))


def case_uninstall_hang(c, srv):
    """An uninstaller that never ends holds the pipeline: nothing is downloaded, and the
    driver's own time limit ends the run."""
    release = os.path.join(c.work, "release")
    try:
        run_with_old_version(c, srv, "hang", extra=["--timeout", "20"],
                             env_extra={"FAKE_UNINSTALL_RELEASE": win_path(release)})
    finally:
        open(release, "w").close()
    c.expect_events([("5002", "0", ""), ("5002", "0.3", "")])
    c.check(c.rc == 2, "exit code %s, expected the driver's time-out" % c.rc)
    c.check(srv.requests() == [], "downloaded while the uninstaller still ran")


def case_uninstall_cannot_start(c, srv):
    old, temp = old_version(c)
    with open(old, "wb") as f:
        f.write(b"MZ")
    c.run_driver(srv.url("/software/331"), extra=["--old-uninstaller", win_path(old), "--temp", win_path(temp)])
    c.expect_events([("5002", "0", ""), ("5004", "2", "")])
    c.check(srv.requests() == [], "downloaded over an old version")


def case_uninstaller_path_missing(c, srv):
    """An old uninstaller path that names no file: the download starts at once."""
    data = c.package()
    url = serve_package(srv, c, data)
    c.write_script(["line State=Success"])
    temp = os.path.join(c.work, "temp")
    os.makedirs(temp)
    c.run_driver(url, extra=["--old-uninstaller", win_path(os.path.join(c.work, "gone", "uninst.exe")),
                             "--temp", win_path(temp)])
    c.expect_events(DL_OK + IST_START + [("2003", "0", "")])
    copies = [f for _, _, files in os.walk(temp) for f in files]
    c.check(copies == [], "an uninstaller copy was made: %r" % copies)


def case_insnew_waits_for_product(c, srv):
    """With -insnew=true and an old version, the start waits while the product runs: the
    uninstaller finds that the product has already ended."""
    prod_dir = os.path.join(c.work, "product")
    os.makedirs(prod_dir)
    product = os.path.join(prod_dir, "TallowmereDataRecovery.exe")
    shutil.copy(os.path.join(c.build, "bin", "fake-product.exe"), product)
    started, ended = os.path.join(c.work, "started"), os.path.join(c.work, "ended")
    env = dict(os.environ, WINEDEBUG="-all")
    p = subprocess.Popen([os.path.join(c.build, "wine-run"), product, "15000", win_path(started), win_path(ended)],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    try:
        for _ in range(600):
            if os.path.exists(started):
                break
            time.sleep(0.1)
        c.check(os.path.exists(started), "fake product did not start")
        c.check(not os.path.exists(ended), "fake product ended before the driver started")
        run_with_old_version(c, srv, "error", extra=["-insnew=true"],
                             env_extra={"FAKE_UNINSTALL_CHECK": win_path(ended)})
        c.expect_events([("5002", "0", ""), ("5002", "0.2", ""), ("5005", "0", "卸载出错")])
        log = uninstall_log(c)
        c.check(len(log) == 1 and log[0].endswith("\tpresent"),
                "the uninstaller ran while the product was still running: %r" % log)
    finally:
        p.wait(120)


def case_nginx(c, srv):
    """The same install through nginx from Debian, started here on a free port."""
    srv.stop()
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    if not os.path.exists(nginx):
        c.failures.append("nginx is not installed")
        return
    data = c.package(3 * MiB)
    md5 = hashlib.md5(data).hexdigest()
    root = os.path.join(c.work, "www")
    os.makedirs(os.path.join(root, "dl", md5))
    with open(os.path.join(root, "dl", md5, "setup.exe"), "wb") as f:
        f.write(data)
    import socket
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    prefix = os.path.join(c.work, "nginx")
    os.makedirs(os.path.join(prefix, "logs"))
    conf = os.path.join(prefix, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""daemon off;
worker_processes 1;
pid %(p)s/nginx.pid;
error_log %(p)s/logs/error.log;
events { worker_connections 64; }
http {
  access_log %(p)s/logs/access.log;
  client_body_temp_path %(p)s/tmp; proxy_temp_path %(p)s/tmp; fastcgi_temp_path %(p)s/tmp;
  uwsgi_temp_path %(p)s/tmp; scgi_temp_path %(p)s/tmp;
  types { application/octet-stream exe; }
  server {
    listen 127.0.0.1:%(port)d;
    root %(root)s;
    gzip on; gzip_types application/octet-stream; gzip_min_length 1;
    location = /software/331 { return 302 http://127.0.0.1:%(port)d/dl/%(md5)s/setup.exe; }
  }
}
""" % {"p": prefix, "port": port, "root": root, "md5": md5})
    proc = subprocess.Popen([nginx, "-p", prefix, "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
                break
            except OSError:
                time.sleep(0.1)
        copy = os.path.join(c.work, "ran.exe")
        c.write_script(["copyself " + win_path(copy), "line InstPath=C:\\n", "line State=Success"])
        c.run_driver("http://127.0.0.1:%d/software/331" % port)
        c.expect_events(DL_OK + IST_START + [("3000", "0", "C:\\n"), ("2003", "0", "")])
        c.check(os.path.exists(copy) and open(copy, "rb").read() == data, "package not byte-identical")
    finally:
        proc.terminate()
        proc.wait(10)


CASES = {name[5:]: fn for name, fn in sorted(globals().items()) if name.startswith("case_")}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--case", action="append", default=[])
    ap.add_argument("--list", action="store_true")
    args = ap.parse_args()
    if args.list:
        print("\n".join(CASES))
        return 0
    status = 0
    for name in args.case or list(CASES):
        c = Case(os.path.abspath(args.build), name)
        srv = TestServer(log_file=os.path.join(c.work, "requests.log"))
        srv.start()
        try:
            CASES[name](c, srv)
        except Exception as e:  # a broken case must fail, not crash the run
            import traceback
            c.failures.append("exception: %s\n%s" % (e, traceback.format_exc()))
            if not hasattr(c, "rc"):
                c.rc, c.elapsed, c.stdout, c.stderr = None, 0, "", ""
        finally:
            srv.stop()
        status |= c.finish()
    if status == 0 and not args.list:
        print("ALL CHECKS PASSED")  # the verdict runner's success line
    return status


if __name__ == "__main__":
    sys.exit(main())
