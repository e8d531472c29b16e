#!/usr/bin/env python3
"""Download benchmark (not a test): a 200 MB package over loopback from nginx, fetched by
the engine driver in one stream (DownloadType 1) and in two ranges (DownloadType 3), and
by the curl command line built from the same libcurl sources for Windows, all under the
same Wine, in the same run; then the engine's MD5 throughput.

    bench_download.py --build BUILD_DIR [--size-mb 200] [--runs 2]

Prints MB/s for each and the ratios (targets: two ranges at least as fast as one stream,
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
    ran = os.path.join(work, "ran.exe")
    script = os.path.join(work, "setup-script.txt")
    with open(script, "w") as f:
        f.write("copyself %s\nline State=Success\n" % win_path(ran))
    env = dict(os.environ, WINEDEBUG="-all", FAKE_SETUP_SCRIPT=win_path(script), FAKE_SETUP_LOG="")
    curl, engine = [], {1: [], 3: []}
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
                break
            except OSError:
                time.sleep(0.1)
        truth = file_digest(pkg)
        for run in range(args.runs):
            out = os.path.join(work, "curl-out.bin")
            r = subprocess.run([wine_run, curl_exe, "-s", "-o", win_path(out), "-w", "%{time_total}", url],
                               capture_output=True, env=env, timeout=3600)
            t = float(r.stdout.decode().strip() or "nan")
            if file_digest(out) != truth:
                print("curl run %d: the file differs" % run)
            curl.append(size / 1e6 / t)
            os.remove(out)

            for dl_type in (1, 3):
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
                    engine[dl_type].append(size / 1e6 / ((times["1006"] - times["1001"]) / 1000.0))
                else:
                    print("engine type %d run %d: no verified transfer (%s)" % (dl_type, run, times))
            print("run %d: curl %.1f MB/s, one stream %s MB/s, two ranges %s MB/s" % (
                run + 1, curl[-1], *("%.1f" % engine[t][-1] if len(engine[t]) > run else "-" for t in (1, 3))),
                flush=True)
    finally:
        nginx.terminate()
        nginx.wait(10)

    import statistics
    nan = float("nan")
    best = {t: max(v) if v else nan for t, v in engine.items()}
    med = {t: statistics.median(v) if v else nan for t, v in engine.items()}
    best_curl, med_curl = max(curl), statistics.median(curl)
    print("download %d MB over loopback (nginx), best of %d:" % (args.size_mb, args.runs))
    print("  curl command line (Windows, same libcurl, Wine): %.1f MB/s" % best_curl)
    print("  engine, one stream (CCurlDownloader):           %.1f MB/s" % best[1])
    print("  engine, two ranges (CMTCurlDownloader):         %.1f MB/s" % best[3])
    print("  ratios: one stream/curl %.0f %%, two ranges/curl %.0f %% (targets >= 90 %%), "
          "two ranges/one stream %.0f %% (target >= 100 %%)" % (
              100.0 * best[1] / best_curl, 100.0 * best[3] / best_curl, 100.0 * best[3] / best[1]))
    print("  medians: curl %.1f, one stream %.1f, two ranges %.1f MB/s" % (med_curl, med[1], med[3]))
    r = subprocess.run([wine_run, os.path.join(build, "bin", "md5-bench.exe"), win_path(pkg)],
                       capture_output=True, env=env, timeout=3600)
    print("  MD5 (engine digest, %d MB file): %s" % (args.size_mb, r.stdout.decode().strip()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
