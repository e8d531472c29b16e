#!/usr/bin/env python3
"""Download benchmark (not a test): a 200 MB package over loopback from nginx, fetched by
the engine driver in one stream (DownloadType 1) and in two ranges (DownloadType 3), and
by the curl command line built from the same libcurl sources for Windows, all under the
same Wine, in the same run; then the engine's MD5 throughput.

    bench_download.py --build BUILD_DIR [--size-mb 200] [--runs 2] [--conn-limit-mb 40]

Two rounds: plain loopback, then a server that limits each connection (nginx
limit_rate), which is where a second range can pay for its merge. Start a wineserver
for the build's prefix first (as scripts/test.sh does). Prints MB/s for each and the ratios (targets: two ranges at least as fast as one stream,
both at 90 % of curl or more) and MD5 MB/s. The engine's figure is the time from its
start event (1001) to the complete package (1006, raised at once because the address
carries no digest): probes, transfer and, for two ranges, the merge. Every package
fetched is compared with the file served."""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def win_path(p):
    return "Z:" + os.path.abspath(p).replace("/", "\\")


def file_digest(path):
    import hashlib
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--size-mb", type=int, default=200)
    ap.add_argument("--runs", type=int, default=2)
    ap.add_argument("--conn-limit-mb", type=int, default=40,
                    help="the second round's limit per connection, MB/s (a server that throttles each one)")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    wine_run = os.path.join(build, "wine-run")
    work = os.path.join(build, "bench")
    os.makedirs(work, exist_ok=True)
    curl_exe = os.path.join(work, "curl.exe")
    if not os.path.exists(curl_exe):
        subprocess.check_call([os.path.join(HERE, "build_curl_tool.sh"), work])

    size = args.size_mb * 1000 * 1000
    root = os.path.join(work, "www")
    pkg = os.path.join(root, "pkg", "setup.exe")
    os.makedirs(os.path.dirname(pkg), exist_ok=True)
    # The fake setup padded to the size: the engine runs it, and it copies itself out, so
    # that what the engine fetched can be compared with what was served.
    with open(os.path.join(build, "bin", "fake-setup.exe"), "rb") as f:
        head = f.read()
    if not os.path.exists(pkg) or os.path.getsize(pkg) != size or open(pkg, "rb").read(len(head)) != head:
        block = os.urandom(1 << 20)
        with open(pkg, "wb") as f:
            f.write(head)
            left = size - len(head)
            while left:
                n = min(left, len(block))
                f.write(block[:n])
                left -= n

    port = free_port()
    prefix = os.path.join(work, "nginx")
    os.makedirs(os.path.join(prefix, "logs"), exist_ok=True)
    conf = os.path.join(prefix, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""daemon off;
worker_processes 4;
pid %(p)s/nginx.pid;
error_log %(p)s/logs/error.log;
events { worker_connections 64; }
http {
  access_log off; sendfile on;
  client_body_temp_path %(p)s/tmp; proxy_temp_path %(p)s/tmp; fastcgi_temp_path %(p)s/tmp;
  uwsgi_temp_path %(p)s/tmp; scgi_temp_path %(p)s/tmp;
  server { listen 127.0.0.1:%(port)d; root %(root)s;
           location /slow/ { alias %(root)s/pkg/; limit_rate %(rate)dk; } }
}
""" % {"p": prefix, "port": port, "root": root, "rate": args.conn_limit_mb * 1000})
    nginx = subprocess.Popen([shutil.which("nginx") or "/usr/sbin/nginx", "-p", prefix, "-c", conf],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ran = os.path.join(work, "ran.exe")
    script = os.path.join(work, "setup-script.txt")
    with open(script, "w") as f:
        f.write("copyself %s\nline State=Success\n" % win_path(ran))
    env = dict(os.environ, WINEDEBUG="-all", FAKE_SETUP_SCRIPT=win_path(script), FAKE_SETUP_LOG="")
    truth = file_digest(pkg)

    def fetch_curl(url):
        out = os.path.join(work, "curl-out.bin")
        # Files, not pipes: Wine's helper processes may keep inherited pipes open.
        said = os.path.join(work, "curl-time.txt")
        with open(said, "wb") as o:
            subprocess.call([wine_run, curl_exe, "-s", "-o", win_path(out), "-w", "%{time_total}", url],
                            stdout=o, stderr=subprocess.DEVNULL, env=env, timeout=3600)
        t = float(open(said).read().strip() or "nan")
        ok = os.path.exists(out) and file_digest(out) == truth
        if os.path.exists(out):
            os.remove(out)
        return size / 1e6 / t if ok else None

    def fetch_engine(url, dl_type):
        inst = os.path.join(work, "install")
        shutil.rmtree(inst, ignore_errors=True)
        err = os.path.join(work, "engine-times.txt")
        with open(err, "wb") as e, open(os.devnull, "wb") as o:
            subprocess.call([wine_run, os.path.join(build, "bin", "engine-driver.exe"), "--url", url,
                             "--dir", win_path(inst), "--event-times", "--type", str(dl_type)],
                            stdout=o, stderr=e, env=env, timeout=3600)
        times = {}
        for line in open(err, errors="replace"):
            parts = line.strip().split("\t")
            if len(parts) == 2 and parts[0].isdigit():
                times.setdefault(parts[0], float(parts[1]))
        verified = os.path.exists(ran) and file_digest(ran) == truth
        if os.path.exists(ran):
            os.remove(ran)
        if "1001" in times and "1006" in times and verified:
            return size / 1e6 / ((times["1006"] - times["1001"]) / 1000.0)
        return None

    import statistics
    rounds = [("loopback, no limit", "http://127.0.0.1:%d/pkg/setup.exe" % port),
              ("loopback, %d MB/s per connection" % args.conn_limit_mb, "http://127.0.0.1:%d/slow/setup.exe" % port)]
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
                break
            except OSError:
                time.sleep(0.1)
        for title, url in rounds:
            figures = {"curl": [], "one stream": [], "two ranges": []}
            for run in range(args.runs):
                for name, fetch in (("curl", lambda: fetch_curl(url)), ("one stream", lambda: fetch_engine(url, 1)),
                                    ("two ranges", lambda: fetch_engine(url, 3))):
                    v = fetch()
                    if v is None:
                        print("  %s run %d: no verified transfer" % (name, run + 1))
                    else:
                        figures[name].append(v)
            best = {k: max(v) if v else float("nan") for k, v in figures.items()}
            med = {k: statistics.median(v) if v else float("nan") for k, v in figures.items()}
            print("download %d MB, %s, best of %d (every package compared with the file served):"
                  % (args.size_mb, title, args.runs))
            print("  curl command line (Windows, same libcurl, Wine): %.1f MB/s" % best["curl"])
            print("  engine, one stream (CCurlDownloader):           %.1f MB/s" % best["one stream"])
            print("  engine, two ranges (CMTCurlDownloader):         %.1f MB/s" % best["two ranges"])
            print("  ratios: one stream/curl %.0f %%, two ranges/curl %.0f %% (targets >= 90 %%), "
                  "two ranges/one stream %.0f %% (target >= 100 %%)" % (
                      100.0 * best["one stream"] / best["curl"], 100.0 * best["two ranges"] / best["curl"],
                      100.0 * best["two ranges"] / best["one stream"]))
            print("  medians: curl %.1f, one stream %.1f, two ranges %.1f MB/s" % (
                med["curl"], med["one stream"], med["two ranges"]), flush=True)
    finally:
        nginx.terminate()
        nginx.wait(10)

    said = os.path.join(work, "md5-bench.txt")
    with open(said, "wb") as o:
        subprocess.call([wine_run, os.path.join(build, "bin", "md5-bench.exe"), win_path(pkg)], stdout=o,
                        stderr=subprocess.DEVNULL, env=env, timeout=3600)
    print("  MD5 (engine digest, %d MB file): %s" % (args.size_mb, open(said).read().strip()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
