#!/usr/bin/env python3
"""Download benchmark (not a test): a 200 MB package over loopback from nginx, fetched by
the engine driver and by the curl command line built from the same libcurl sources for
Windows, both under the same Wine, in the same run; then the engine's MD5 throughput.

    bench_download.py --build BUILD_DIR [--size-mb 200] [--runs 2]

Prints MB/s for both, the ratio (target: the engine at 90 % of curl or more) and MD5 MB/s.
The engine's figure is the time from its start event (1001) to the end of the transfer
(1006, raised at once because the address carries no digest): probes and transfer."""
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
    if not os.path.exists(pkg) or os.path.getsize(pkg) != size:
        block = os.urandom(1 << 20)
        with open(pkg, "wb") as f:
            left = size
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
worker_processes 1;
pid %(p)s/nginx.pid;
error_log %(p)s/logs/error.log;
events { worker_connections 64; }
http {
  access_log off; sendfile on;
  client_body_temp_path %(p)s/tmp; proxy_temp_path %(p)s/tmp; fastcgi_temp_path %(p)s/tmp;
  uwsgi_temp_path %(p)s/tmp; scgi_temp_path %(p)s/tmp;
  server { listen 127.0.0.1:%(port)d; root %(root)s; }
}
""" % {"p": prefix, "port": port, "root": root})
    nginx = subprocess.Popen([shutil.which("nginx") or "/usr/sbin/nginx", "-p", prefix, "-c", conf],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    url = "http://127.0.0.1:%d/pkg/setup.exe" % port
    env = dict(os.environ, WINEDEBUG="-all", FAKE_SETUP_SCRIPT="", FAKE_SETUP_LOG="")
    engine, curl = [], []
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
                break
            except OSError:
                time.sleep(0.1)
        for run in range(args.runs):
            out = os.path.join(work, "curl-out.bin")
            r = subprocess.run([wine_run, curl_exe, "-s", "-o", win_path(out), "-w", "%{time_total}", url],
                               capture_output=True, env=env, timeout=3600)
            t = float(r.stdout.decode().strip() or "nan")
            curl.append(size / 1e6 / t)
            os.remove(out)

            inst = os.path.join(work, "install")
            shutil.rmtree(inst, ignore_errors=True)
            err = os.path.join(work, "engine-times.txt")
            with open(err, "wb") as e, open(os.devnull, "wb") as o:
                subprocess.call([wine_run, os.path.join(build, "bin", "engine-driver.exe"), "--url", url,
                                 "--dir", win_path(inst), "--event-times"], stdout=o, stderr=e, env=env,
                                timeout=3600)
            times = {}
            for line in open(err, errors="replace"):
                parts = line.strip().split("\t")
                if len(parts) == 2 and parts[0].isdigit():
                    times.setdefault(parts[0], float(parts[1]))
            if "1001" in times and "1006" in times:
                engine.append(size / 1e6 / ((times["1006"] - times["1001"]) / 1000.0))
            else:
                print("engine run %d: no transfer times (%s)" % (run, times))
            print("run %d: curl %.1f MB/s, engine %s MB/s" % (
                run + 1, curl[-1], "%.1f" % engine[-1] if len(engine) > run else "-"), flush=True)
    finally:
        nginx.terminate()
        nginx.wait(10)

    import statistics
    best_curl, best_engine = max(curl), max(engine) if engine else float("nan")
    med_curl = statistics.median(curl)
    med_engine = statistics.median(engine) if engine else float("nan")
    print("download %d MB over loopback (nginx), best of %d:" % (args.size_mb, args.runs))
    print("  curl command line (Windows, same libcurl, Wine): %.1f MB/s" % best_curl)
    print("  engine driver (CCurlDownloader):                 %.1f MB/s" % best_engine)
    print("  ratio engine/curl: %.0f %% (target >= 90 %%)" % (100.0 * best_engine / best_curl))
    print("  medians: curl %.1f MB/s, engine %.1f MB/s, ratio %.0f %%" % (
        med_curl, med_engine, 100.0 * med_engine / med_curl))
    r = subprocess.run([wine_run, os.path.join(build, "bin", "md5-bench.exe"), win_path(pkg)],
                       capture_output=True, env=env, timeout=3600)
    print("  MD5 (engine digest, %d MB file): %s" % (args.size_mb, r.stdout.decode().strip()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
