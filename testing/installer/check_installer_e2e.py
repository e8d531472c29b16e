#!/usr/bin/env python3
"""Installer.exe end to end under Wine and Xvfb: the real program against the engine's
test server on loopback, with the fake setup as the downloaded package, the fake
uninstaller as an installed copy's uninstall entry and the fake product as the
program it installs. installer-driver reads the windows' own control trees (through
uiprobe.dll) and clicks their controls by SendInput; every scenario writes its
pictures into WORK/<scenario>/.

    check_installer_e2e.py WINE_RUN BIN_DIR WORK [SCENARIO ...]"""
import hashlib
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "uiframework", "checks"))
sys.path.insert(0, os.path.join(HERE, "..", "engine"))
import uicheck  # noqa: E402
from qv_http_server import TestServer  # noqa: E402

PRODUCT = "TallowmereDataRecovery"
KEY = r"HKCU\Software\QuorvSoft\TallowmereDataRecovery"
WAIT = 30000   # ms a window or a state may take to come under a loaded machine


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Driver:
    """installer-driver over pipes: one command, its answer lines up to "."."""

    def __init__(self, env, bin_dir, wrap=()):
        self.proc = subprocess.Popen(list(wrap) + ["wine", os.path.join(bin_dir, "installer-driver.exe")], env=env,
                                     cwd=bin_dir, stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def ask(self, command):
        self.proc.stdin.write((command + "\n").encode("utf-8"))
        self.proc.stdin.flush()
        lines = []
        while True:
            raw = self.proc.stdout.readline()
            if not raw:
                raise RuntimeError("installer-driver ended during %r" % command)
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if line == ".":
                return lines
            lines.append(line)

    def close(self):
        try:
            self.ask("quit")
            self.proc.wait(20)
        except Exception:
            self.proc.kill()

    def wait(self, cls, ms=WAIT):
        """Until a window of the class is shown, painted and in place (the program
        centres its window once it is visible)."""
        if self.ask("wait %s %d" % (cls, ms)) != ["ok"]:
            return False
        end = time.time() + ms / 1000.0
        last = None
        while time.time() < end:
            raised = self.ask("raise " + cls) == ["raised"]
            head, _ = self.tree(cls)
            if head and head[4] == 1 and head[6] == 1 and not raised:
                if head[:2] == last:
                    return True
                last = head[:2]
            time.sleep(0.05)
        return False

    def gone(self, cls, ms=WAIT):
        return self.ask("gone %s %d" % (cls, ms)) == ["ok"]

    def tree(self, cls):
        """{name: control} of the window's tree (unnamed controls left out), and its head."""
        lines = self.ask("tree " + cls)
        if not lines or not lines[0].startswith("window\t"):
            return None, {}
        head = [int(v) for v in lines[0].split("\t")[1:]]
        controls = {}
        for line in lines[1:]:
            f = line.split("\t")
            if len(f) < 12 or not f[2]:
                continue
            controls[f[2]] = {"cls": f[1], "rect": [int(v) for v in f[3:7]], "visible": f[7] == "1",
                              "shown": f[8] == "1", "enabled": f[9] == "1", "state": f[10], "text": f[11]}
        return head, controls

    def until(self, cls, test, ms=WAIT):
        """The tree once `test(controls)` holds; None when it never did within ms."""
        end = time.time() + ms / 1000.0
        while True:
            head, controls = self.tree(cls)
            if head and test(controls):
                return controls
            if time.time() > end:
                return None
            time.sleep(0.1)

    def click(self, cls, name):
        head, controls = self.tree(cls)
        c = controls.get(name) if head else None
        if not c or not c["shown"]:
            return False
        l, t, r, b = c["rect"]
        return self.ask("click %d %d" % (head[0] + (l + r) // 2, head[1] + (t + b) // 2)) == ["ok"]

    def shot(self, cls, path):
        return self.ask("shot %s %s" % (cls, win(path))) == ["ok"]


def page(controls):
    s = controls.get("mainTabLt", {}).get("state", "")
    return int(s[4:]) if s.startswith("cur=") else -1


class Session:
    """One Xvfb display and one private Wine session for the scenarios. An offline
    session runs every Wine process, its services first, in network namespaces of
    their own (a loopback that is down): the system's connectivity answer comes from
    those services."""

    def __init__(self, wine_run, bin_dir, work, display=None, offline=False):
        self.bin = bin_dir
        self.work = work
        self.own_display = display is None
        self.display = display or uicheck.Display()
        self.wrap = ("unshare", "-n") if offline else ()
        os.makedirs(work, exist_ok=True)
        self.prefix = uicheck.Prefix(wine_run, work)
        self.env = self.prefix.env(self.display)
        self.env["WINEDEBUG"] = "-all"
        self.drive_c = os.path.join(self.prefix.path, "drive_c")
        # The downloader takes nothing under 1 MiB: the fake setup with a tail.
        with open(os.path.join(bin_dir, "fake-setup.exe"), "rb") as f:
            self.package = f.read()
        self.package += bytes(i % 251 for i in range(2 * 1048576 - len(self.package)))
        subprocess.run(list(self.wrap) + ["wine", "cmd.exe", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        self.prefix.stop()
        if self.own_display:
            self.display.close()

    def reg(self, *args):
        r = subprocess.run(list(self.wrap) + ["wine", "reg"] + list(args), env=self.env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        return r.returncode, r.stdout.decode("utf-8", "replace").replace("\r", "")

    def records(self):
        """{value: data} under the product's key (exported as UTF-16: "reg query" prints
        through the console's code page)."""
        path = os.path.join(self.work, "records.reg")
        if os.path.exists(path):
            os.remove(path)
        self.reg("export", KEY, win(path), "/y")
        if not os.path.exists(path):
            return {}
        raw = open(path, "rb").read()
        text = raw.decode("utf-16") if raw[:2] == b"\xff\xfe" else raw.decode("utf-8", "replace")
        values = {}
        for line in text.splitlines():
            if line.startswith('"') and '"="' in line:
                name, data = line[1:].split('"="', 1)
                values[name] = data.rstrip().rstrip('"').replace("\\\\", "\\")
        return values


class Scenario:
    def __init__(self, session, name, checker):
        self.s = session
        self.name = name
        self.c = checker
        self.dir = os.path.join(session.work, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.script = os.path.join(self.dir, "setup-script.txt")
        self.cmdlog = os.path.join(self.dir, "setup-cmdline.txt")
        self.productlog = os.path.join(self.dir, "product.txt")
        self.uninstlog = os.path.join(self.dir, "uninstall.txt")
        # Wine gives every process its own APPDATA: the prefix's.
        self.analytics = os.path.join(session.drive_c, "users", os.environ.get("USER", "root"), "AppData", "Roaming",
                                      "QuorvData", PRODUCT, "DEDizavadUvuvazire.ini")
        shutil.rmtree(os.path.dirname(self.analytics), ignore_errors=True)
        self.server = TestServer()
        self.server.start()
        self.procs = []
        self.shots = 0
        self.finished = False
        session.reg("delete", r"HKCU\Software\QuorvSoft", "/f")
        self.default_folder = os.path.join(session.drive_c, "Program Files", PRODUCT)
        shutil.rmtree(self.default_folder, ignore_errors=True)
        self.driver = Driver(session.env, session.bin, session.wrap)
        # The windows of the scenario before are gone first.
        for cls in ("MainWnd", "MessageBox1Wnd", "MessageBox2Wnd", "InstalledPathTipWnd", "NetworkTipWnd",
                    "ExitTipWnd"):
            self.driver.gone(cls, 15000)
        self.url = self.serve(session.package)

    def serve(self, data, md5=None):
        path = "/dl/%s/setup.exe" % (md5 or hashlib.md5(data).hexdigest())
        self.server.files[path] = data
        return self.server.url(path)

    def setup_script(self, folder_win, extra=(), style="AutoStartup", state="line State=Success"):
        """The fake setup's part: progress, the product and its uninstall entry in the
        folder, the values it reports, its final line."""
        lines = ["line Encode=UTF8", "line Progress=0.1", "sleep 600", "line Progress=0.5",
                 "copy %s|%s\\%s.exe" % (win(os.path.join(self.s.bin, "fake-product.exe")), folder_win, PRODUCT),
                 "touch %s\\uninst.ep" % folder_win, "line InstPath=" + folder_win,
                 "line ExePath=%s\\%s.exe" % (folder_win, PRODUCT), "line StartupStyle=" + style]
        lines += list(extra) + ["sleep 300", state]
        with open(self.script, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")

    def start(self, *args, url=None, check_net=False, env_extra=None):
        env = dict(self.s.env, FAKE_SETUP_SCRIPT=win(self.script), FAKE_SETUP_LOG=win(self.cmdlog),
                   FAKE_PRODUCT_LOG=win(self.productlog), FAKE_UNINSTALL_LOG=win(self.uninstlog),
                   FAKE_PRODUCT_MS="0")
        env.update(env_extra or {})
        cmd = list(self.s.wrap) + ["wine", os.path.join(self.s.bin, "Installer.exe"), "-downloadurl=" + (url or self.url),
                               "-ischecknet=" + ("true" if check_net else "false")] + list(args)
        self.errlog = open(os.path.join(self.dir, "installer-stderr-%d.txt" % len(self.procs)), "wb")
        p = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.errlog)
        self.procs.append(p)
        return p

    def shot(self, cls, what):
        self.shots += 1
        path = os.path.join(self.dir, "%02d-%s.png" % (self.shots, what))
        self.c.expect(self.s and self.driver.shot(cls, path), "%s: picture %s" % (self.name, os.path.basename(path)))

    def expect(self, ok, what):
        return self.c.expect(bool(ok), "%s: %s" % (self.name, what))

    def message(self, cls, what, answer=None):
        """Waits for a message window, checks its text, takes its picture and answers
        by clicking `answer` (a control name) when one is given."""
        if not self.expect(self.driver.wait(cls), "%s shown" % cls):
            return None
        _, controls = self.driver.tree(cls)
        self.shot(cls, what)
        if answer:
            self.expect(self.driver.click(cls, answer), "%s: %s clicked" % (cls, answer))
            self.expect(self.driver.gone(cls), "%s closed" % cls)
        return controls

    def product_log(self, ms=WAIT):
        """What the fake product logged, once it has (it starts after the page changes)."""
        end = time.time() + ms / 1000.0
        while True:
            if os.path.exists(self.productlog):
                with open(self.productlog, encoding="utf-8") as f:
                    text = f.read()
                if text.endswith("\n"):
                    return text
            if time.time() > end:
                return ""
            time.sleep(0.1)

    def cmdlines(self):
        if not os.path.exists(self.cmdlog):
            return []
        with open(self.cmdlog, encoding="utf-8") as f:
            return [line.rstrip("\r\n") for line in f if line.strip()]

    def ended(self, p, code=0):
        """Whether the installer ended by itself with that exit code."""
        try:
            p.wait(60)
        except subprocess.TimeoutExpired:
            p.kill()
            return self.expect(False, "installer ended by itself")
        return self.expect(p.returncode == code, "exit code %d, got %s" % (code, p.returncode))

    def finish(self):
        if self.finished:
            return
        self.finished = True
        self.driver.close()
        for p in self.procs:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                self.expect(False, "installer still running at the end")
        self.server.stop()


def expected_cmdline(folder_win, lang, dsc="true", ssc="true", adminact="false", authact="true"):
    pkg = "%s\\__Package_%s.exe" % (folder_win, PRODUCT)
    s = "\"%s\" /S -console=show -version=1.0.0 -adminact=%s -authorizationact=%s -dsc=%s -ssc=%s" % (
        pkg, adminact, authact, dsc, ssc)
    if lang:
        s += " -inslang=\"%s\"" % lang
    return s + " -instdir=\"%s\" /D=%s" % (folder_win, folder_win)


def read_ini(path):
    """{section: {key: value}} of an INI file in UTF-16 or the ANSI code page."""
    raw = open(path, "rb").read()
    text = raw.decode("utf-16") if raw[:2] == b"\xff\xfe" else raw.decode("latin-1")
    out, section = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            section = out.setdefault(line[1:-1], {})
        elif "=" in line and section is not None:
            k, v = line.split("=", 1)
            section[k] = v
    return out


# ---------------------------------------------------------------- scenarios

def scenario_default_install(sc):
    folder = "C:\\Program Files\\" + PRODUCT
    sc.setup_script(folder)
    p = sc.start()
    d = sc.driver
    sc.expect(d.wait("MainWnd"), "main window shown")
    controls = d.until("MainWnd", lambda c: page(c) == 0)
    sc.expect(controls and controls["installDirEdit"]["text"] == folder, "default folder in the edit")
    sc.shot("MainWnd", "choose")
    sc.expect(d.click("MainWnd", "customeBtn"), "custom install clicked")
    custom = d.until("MainWnd", lambda c: page(c) == 1)
    sc.expect(custom and custom["backBtn"]["shown"], "custom page with its back button")
    sc.shot("MainWnd", "custom")
    sc.expect(d.click("MainWnd", "backBtn"), "back clicked")
    sc.expect(d.until("MainWnd", lambda c: page(c) == 0 and not c["backBtn"]["visible"]), "choose page again")
    sc.expect(d.click("MainWnd", "defaultInstallBtn"), "install clicked")
    installing = d.until("MainWnd", lambda c: page(c) == 2)
    sc.expect(installing, "installing page shown")
    if installing:
        sc.expect(not installing["defaultInstallBtn"]["enabled"], "the install buttons are off while it runs")
        sc.shot("MainWnd", "installing")
    done = d.until("MainWnd", lambda c: page(c) == 3)
    sc.expect(done, "finished page shown")
    if done:
        sc.expect(done["installPrg"]["state"] == "val=100", "bar at 100")
        sc.expect(done["softNameLbl"]["shown"], "product name shown")
        sc.shot("MainWnd", "finished")
    lines = sc.cmdlines()
    sc.expect(len(lines) == 1, "the setup ran once: %r" % lines)
    if lines:
        got = lines[0]
        want = expected_cmdline(folder, "en-US")
        sc.expect(got == want, "setup command line\n   got  %s\n   want %s" % (got, want))
    rec = sc.s.records()
    sc.expect(rec.get("InstallPath") == folder, "InstallPath recorded: %r" % rec)
    sc.expect(rec.get("UnInstallEp") == folder + "\\uninst.ep", "UnInstallEp recorded: %r" % rec)
    set_ini = read_ini(os.path.join(sc.default_folder, "set.ini"))
    inst = set_ini.get("Install", {})
    sc.expect(inst.get("APPStore") == "Installer.exe" and inst.get("AppName") == PRODUCT and
              len(inst.get("DeviceID", "")) >= 32, "set.ini: %r" % inst)
    sc.expect(inst.get("DEDizavadUvuvazireIni", "").endswith("\\QuorvData\\%s\\DEDizavadUvuvazire.ini" % PRODUCT),
              "set.ini names the analytics file")
    sc.expect(os.path.exists(sc.analytics) and "UpdateTime" in read_ini(sc.analytics).get("Init", {}),
              "analytics file has UpdateTime")
    started = sc.product_log()
    sc.expect(PRODUCT + ".exe" in started, "product started at once (AutoStartup): %r" % started)
    sc.expect(not os.path.exists(os.path.join(sc.default_folder, "__Package_%s.exe" % PRODUCT)), "package removed")
    sc.expect(d.click("MainWnd", "openProduceBtn"), "Experience Now clicked")
    sc.expect(d.gone("MainWnd"), "window closed")
    sc.ended(p)


def scenario_second_instance(sc):
    first = sc.start()
    sc.expect(sc.driver.wait("MainWnd"), "first instance shows its window")
    second = sc.start()
    try:
        second.wait(60)
    except subprocess.TimeoutExpired:
        second.kill()
    sc.expect(second.returncode == 255, "second instance ends at once with -1, got %s" % second.returncode)
    sc.expect(sc.driver.click("MainWnd", "closebtn"), "close clicked")
    sc.message("ExitTipWnd", "exit-tip", "okBtn")
    sc.expect(sc.driver.gone("MainWnd"), "first instance closed")
    sc.ended(first)


def scenario_licence_unticked(sc):
    sc.start()
    d = sc.driver
    sc.expect(d.wait("MainWnd"), "main window shown")
    sc.expect(d.click("MainWnd", "treatyCb"), "licence box clicked")
    c = d.until("MainWnd", lambda c: c["treatyCb"]["state"] == "sel=0")
    sc.expect(c and c["treatyBtn"]["state"] == "sel=0", "the agreement's title follows the box")
    sc.expect(c and not c["customeBtn"]["enabled"], "custom install off without agreement")
    sc.expect(d.click("MainWnd", "defaultInstallBtn"), "install clicked")
    c = d.until("MainWnd", lambda c: c["tipLbl"]["shown"])
    sc.expect(c and page(c) == 0, "the hint shows and the page stays")
    sc.shot("MainWnd", "licence-hint")
    time.sleep(1)
    sc.expect(sc.server.requests() == [], "no request made: %r" % sc.server.requests())
    sc.expect(d.click("MainWnd", "closebtn"), "close clicked")
    sc.message("ExitTipWnd", "exit-tip", "okBtn")


def custom_page(sc, text):
    """To the custom page, the edit's text replaced by typing."""
    d = sc.driver
    sc.expect(d.wait("MainWnd"), "main window shown")
    sc.expect(d.click("MainWnd", "customeBtn"), "custom install clicked")
    sc.expect(d.until("MainWnd", lambda c: page(c) == 1), "custom page shown")
    sc.expect(d.click("MainWnd", "installDirEdit"), "edit clicked")
    d.ask("key End")
    d.ask("key Shift+Home")
    d.ask("key Delete")
    d.ask("text " + text)
    got = d.until("MainWnd", lambda c: c["installDirEdit"]["text"] == text, 10000)
    if not got:
        print("   the edit holds %r" % d.tree("MainWnd")[1].get("installDirEdit", {}).get("text"))
    return got


def scenario_invalid_path(sc):
    sc.start()
    sc.expect(custom_page(sc, "relative\\folder"), "relative folder typed")
    sc.shot("MainWnd", "custom-page")
    sc.expect(sc.driver.click("MainWnd", "customeInstallBtn"), "install clicked")
    box = sc.message("MessageBox2Wnd", "invalid-path", "closebtn")
    sc.expect(box and box.get("textLbl", {}).get("text") == "Invalid Path", "text 103 shown")
    c = sc.driver.until("MainWnd", lambda c: c["customeInstallBtn"]["enabled"])
    sc.expect(c and page(c) == 1, "install button on again, page unchanged")
    sc.expect(sc.server.requests() == [], "no request made")
    sc.expect(sc.driver.click("MainWnd", "closebtn"), "close clicked")
    sc.message("ExitTipWnd", "exit-tip", "okBtn")


def scenario_custom_folder(sc):
    folder = "C:\\Users\\Öffentlich 测试 目录"
    target = folder + "\\" + PRODUCT
    sc.setup_script(target, style="UserStartup")
    p = sc.start()
    sc.expect(custom_page(sc, folder), "folder with blanks and non-Latin letters typed")
    sc.expect(sc.driver.click("MainWnd", "createQSCb"), "quick launch box cleared")
    sc.expect(sc.driver.until("MainWnd", lambda c: c["createQSCb"]["state"] == "sel=0"), "quick launch off")
    sc.expect(sc.driver.click("MainWnd", "customeInstallBtn"), "install clicked")
    sc.expect(sc.driver.until("MainWnd", lambda c: page(c) == 3), "finished page shown")
    sc.shot("MainWnd", "finished")
    lines = sc.cmdlines()
    want = expected_cmdline(target, "en-US", ssc="false")
    sc.expect(lines == [want], "setup command line\n   got  %r\n   want %r" % (lines, want))
    sc.expect(sc.s.records().get("InstallPath") == target, "InstallPath recorded")
    sc.expect(not os.path.exists(sc.productlog), "UserStartup: not started before the click")
    sc.expect(sc.driver.click("MainWnd", "openProduceBtn"), "Experience Now clicked")
    sc.expect(sc.driver.gone("MainWnd"), "window closed")
    sc.ended(p)
    sc.expect(PRODUCT + ".exe" in sc.product_log(), "product started on the click")


def scenario_download_failure(sc):
    url = sc.serve(sc.s.package, md5="0123456789abcdef0123456789abcdef")
    sc.setup_script("C:\\Program Files\\" + PRODUCT)
    p = sc.start(url=url)
    d = sc.driver
    sc.expect(d.wait("MainWnd"), "main window shown")
    sc.expect(d.click("MainWnd", "defaultInstallBtn"), "install clicked")
    sc.message("NetworkTipWnd", "network-tip", "okBtn")   # Reinstall
    sc.message("NetworkTipWnd", "network-tip-again", "cancelBtn")   # Retry
    c = d.until("MainWnd", lambda c: page(c) == 0 and c["defaultInstallBtn"]["enabled"])
    sc.expect(c, "back on the choose page with the install button on")
    gets = len(sc.server.requests("GET"))
    sc.expect(gets >= 3, "Reinstall downloaded again (%d GETs in all)" % gets)
    sc.expect(sc.cmdlines() == [], "the setup never ran")
    sc.expect("InstallPath" not in sc.s.records(), "nothing recorded")
    sc.expect(d.click("MainWnd", "closebtn"), "close clicked")
    sc.message("ExitTipWnd", "exit-tip", "okBtn")
    sc.expect(d.gone("MainWnd"), "window closed")
    sc.ended(p)


def scenario_setup_failure(sc):
    folder = "C:\\Program Files\\" + PRODUCT
    sc.setup_script(folder, state="line Error=磁盘写入失败")
    sc.start()
    d = sc.driver
    sc.expect(d.wait("MainWnd"), "main window shown")
    sc.expect(d.click("MainWnd", "defaultInstallBtn"), "install clicked")
    box = sc.message("MessageBox2Wnd", "setup-error", "closebtn")
    sc.expect(box and box.get("textLbl", {}).get("text") == "磁盘写入失败", "the setup's Error= text shown")
    c = d.until("MainWnd", lambda c: page(c) == 0 and c["defaultInstallBtn"]["enabled"])
    sc.expect(c and c["installPrg"]["state"] == "val=0", "back on page 0, bar reset (it passed 69)")
    sc.expect("InstallPath" not in sc.s.records(), "a failed setup records nothing")
    sc.setup_script(folder, state="line State=Fail")
    sc.expect(d.click("MainWnd", "defaultInstallBtn"), "install clicked again")
    box = sc.message("MessageBox2Wnd", "setup-fail", "closebtn")
    sc.expect(box and box.get("textLbl", {}).get("text") == "安装包安装失败", "State=Fail text shown")
    sc.expect(len(sc.cmdlines()) == 2, "the setup ran twice")
    sc.expect("InstallPath" not in sc.s.records(), "still nothing recorded")
    sc.expect(d.click("MainWnd", "closebtn"), "close clicked")
    sc.message("ExitTipWnd", "exit-tip", "okBtn")


def installed_copy(sc, uninstaller=None, override=None, language=None):
    """A copy recorded in the registry: its folder with the product, an uninstall
    entry (the fake uninstaller when given), "set.ini" and "config.ini"."""
    folder_win = "C:\\Quorv Existing\\" + PRODUCT
    folder = os.path.join(sc.s.drive_c, "Quorv Existing", PRODUCT)
    shutil.rmtree(os.path.dirname(folder), ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(os.path.join(sc.s.bin, "fake-product.exe"), os.path.join(folder, PRODUCT + ".exe"))
    entry = os.path.join(folder, "uninst.ep")
    if uninstaller:
        shutil.copy(os.path.join(sc.s.bin, "fake-uninstaller.exe"), entry)
    else:
        open(entry, "wb").close()
    if override is not None:
        with open(os.path.join(folder, "set.ini"), "w") as f:
            f.write("[Uninstall]\r\nIsOverride=%s\r\n" % override)
    if language:
        with open(os.path.join(folder, "config.ini"), "w") as f:
            f.write("[Install]\r\nLanguage=%s\r\n" % language)
    sc.s.reg("add", KEY, "/v", "InstallPath", "/t", "REG_SZ", "/d", folder_win, "/f")
    sc.s.reg("add", KEY, "/v", "UnInstallEp", "/t", "REG_SZ", "/d", folder_win + "\\uninst.ep", "/f")
    return folder_win


def scenario_installed_copy(sc):
    folder = installed_copy(sc, override="false", language="zh-TW")
    p = sc.start()
    sc.message("InstalledPathTipWnd", "installed-tip", "cancelBtn")   # Open software
    sc.expect(sc.driver.gone("MainWnd"), "main window closes after Open software")
    sc.ended(p)
    started = sc.product_log()
    sc.expect(started.endswith("\t" + folder + "\n"), "the installed program started in its folder: %r" % started)

    sc.setup_script(folder)
    p = sc.start()
    sc.message("InstalledPathTipWnd", "installed-tip-2", "okBtn")   # Install the latest version
    done = sc.driver.until("MainWnd", lambda c: page(c) == 3)
    sc.expect(done, "installed into the recorded folder")
    sc.shot("MainWnd", "finished")
    lines = sc.cmdlines()
    want = expected_cmdline(folder, "zh-TW")
    sc.expect(lines == [want], "the stored language goes to the setup\n   got  %r\n   want %r" % (lines, want))
    sc.expect(not os.path.exists(sc.uninstlog), "IsOverride=false: the old version is kept, no uninstaller run")
    sc.expect(sc.driver.click("MainWnd", "closebtn"), "close on the finished page")
    sc.expect(sc.driver.gone("MainWnd"), "closes without asking")
    sc.ended(p)


def scenario_uninstall_failure(sc):
    installed_copy(sc, uninstaller=True)
    folder = "C:\\Program Files\\" + PRODUCT
    sc.setup_script(folder)
    p = sc.start(env_extra={"FAKE_UNINSTALL": "error"})
    sc.message("InstalledPathTipWnd", "installed-tip", "okBtn")
    box = sc.message("MessageBox1Wnd", "uninstall-error", "closebtn")
    text = box.get("textLbl", {}).get("text", "") if box else ""
    sc.expect(text and "is running" not in text, "the uninstaller's error, not 'product running': %r" % text)
    sc.expect(sc.driver.gone("MainWnd"), "main window closes (installed copy)")
    sc.ended(p)
    sc.expect(os.path.exists(sc.uninstlog), "the old uninstaller ran")
    sc.expect(sc.cmdlines() == [], "no setup after a failed uninstall")


def scenario_exit_tip(sc):
    p = sc.start()
    d = sc.driver
    sc.expect(d.wait("MainWnd"), "main window shown")
    sc.expect(d.click("MainWnd", "closebtn"), "close clicked")
    sc.message("ExitTipWnd", "exit-tip", "cancelBtn")   # No
    sc.expect(d.wait("MainWnd", 2000), "No keeps the installer")
    sc.expect(d.click("MainWnd", "closebtn"), "close clicked again")
    sc.expect(d.wait("ExitTipWnd"), "exit tip again")
    d.ask("key Escape")
    sc.expect(d.wait("ExitTipWnd", 1000), "Escape does nothing")
    d.ask("key Alt+F4")
    sc.expect(d.gone("ExitTipWnd"), "Alt+F4 closes the tip")
    sc.expect(d.wait("MainWnd", 2000), "a tip closed without a button is not a yes")
    sc.expect(d.click("MainWnd", "closebtn"), "close clicked a third time")
    sc.message("ExitTipWnd", "exit-tip-yes", "okBtn")
    sc.expect(d.gone("MainWnd"), "Yes ends the installer")
    sc.ended(p)


def scenario_language(sc):
    folder = "C:\\Program Files\\" + PRODUCT
    sc.setup_script(folder)
    sc.start("-language=2")
    d = sc.driver
    c = d.until("MainWnd", lambda c: "languageCombo" in c and c["languageCombo"]["state"] == "cur=2")
    sc.expect(c, "the language box shows Traditional Chinese")
    sc.expect(c and c["defaultInstallBtn"]["text"] == "立即安裝", "the texts are Traditional Chinese")
    sc.shot("MainWnd", "zh-TW")
    sc.expect(d.click("MainWnd", "defaultInstallBtn"), "install clicked")
    sc.expect(d.until("MainWnd", lambda c: page(c) == 3), "finished")
    lines = sc.cmdlines()
    sc.expect(lines and '-inslang="zh-TW"' in lines[0], "-inslang=\"zh-TW\" given: %r" % lines)
    sc.expect(d.click("MainWnd", "closebtn"), "close on the finished page")


def scenario_insnew_waits_on_a_worker(sc):
    folder = installed_copy(sc, uninstaller=True)
    local = os.path.join(sc.s.drive_c, "Quorv Existing", PRODUCT)
    started, ended = os.path.join(sc.dir, "product-started"), os.path.join(sc.dir, "product-ended")
    product = subprocess.Popen(["wine", os.path.join(local, PRODUCT + ".exe"), "8000", win(started), win(ended)],
                               env=sc.s.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    sc.procs.append(product)
    end = time.time() + 30
    while not os.path.exists(started) and time.time() < end:
        time.sleep(0.05)
    sc.expect(os.path.exists(started), "the installed product runs")
    sc.setup_script(folder)
    p = sc.start("-insnew=true", env_extra={"FAKE_UNINSTALL": "success"})
    c = sc.driver.until("MainWnd", lambda c: page(c) == 2)
    sc.expect(c and not os.path.exists(ended), "the window answers on the installing page while the product runs")
    sc.shot("MainWnd", "waiting-for-product")
    sc.expect(not os.path.exists(sc.uninstlog), "nothing runs before the product has exited")
    sc.expect(sc.driver.until("MainWnd", lambda c: page(c) == 3), "installed once the product ended")
    sc.expect(os.path.exists(ended), "... and only after it ended")
    sc.expect(os.path.exists(sc.uninstlog), "the old uninstaller ran first")
    sc.expect(len(sc.cmdlines()) == 1, "the setup ran")
    sc.expect(sc.driver.click("MainWnd", "closebtn"), "close on the finished page")
    sc.ended(p)


def scenario_hung_setup(sc):
    with open(sc.script, "w") as f:
        f.write("line Progress=0.1\nsleep 600000\nline State=Success\n")
    p = sc.start()
    d = sc.driver
    sc.expect(d.wait("MainWnd"), "main window shown")
    sc.expect(d.click("MainWnd", "defaultInstallBtn"), "install clicked")
    sc.expect(d.until("MainWnd", lambda c: page(c) == 2 and c["installPrg"]["state"] != "val=0"), "the setup runs")
    d.ask("key Alt+F4")
    time.sleep(1)
    sc.expect(d.wait("MainWnd", 1000) and p.poll() is None, "no closing by the system during the installation")
    sc.expect(d.click("MainWnd", "closebtn"), "close clicked")
    sc.message("ExitTipWnd", "exit-during-install", "okBtn")
    sc.expect(d.gone("MainWnd"), "a confirmed exit closes the window")
    sc.ended(p)
    sc.expect("InstallPath" not in sc.s.records(), "nothing recorded")


def scenario_stale_record(sc):
    installed_copy(sc)
    os.remove(os.path.join(sc.s.drive_c, "Quorv Existing", PRODUCT, PRODUCT + ".exe"))
    sc.start()
    d = sc.driver
    sc.expect(d.wait("MainWnd"), "main window shown")
    sc.expect(d.gone("InstalledPathTipWnd", 0), "no 'installed' tip for a record whose program is gone")
    sc.shot("MainWnd", "choose")
    sc.expect(d.click("MainWnd", "closebtn"), "close clicked")
    sc.message("ExitTipWnd", "exit-tip", "okBtn")


def scenario_no_network(sc):
    sc.start(check_net=True)
    d = sc.driver
    sc.expect(d.wait("MainWnd"), "main window shown")
    sc.expect(d.click("MainWnd", "defaultInstallBtn"), "install clicked")
    box = sc.message("MessageBox2Wnd", "no-network", "closebtn")
    sc.expect(box and box.get("textLbl", {}).get("text", "").startswith("The current network environment is poor"),
              "text 105 shown")
    c = d.until("MainWnd", lambda c: page(c) == 0 and c["defaultInstallBtn"]["enabled"])
    sc.expect(c, "the installation does not start; the button is on again")
    sc.expect(sc.server.requests() == [], "no request made")
    sc.expect(d.click("MainWnd", "closebtn"), "close clicked")
    sc.message("ExitTipWnd", "exit-tip", "okBtn")


def scenario_no_space(sc):
    mount = os.path.join(sc.dir, "small-disk")
    os.makedirs(mount)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs", mount],
                      stderr=subprocess.DEVNULL).returncode != 0:
        print("SKIP no-space: no tmpfs can be mounted here")
        return
    link = os.path.join(sc.s.prefix.path, "dosdevices", "s:")
    try:
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(mount, link)
        sc.start()
        sc.expect(custom_page(sc, "S:\\Programs"), "a folder on the 16 MiB drive typed")
        sc.expect(sc.driver.click("MainWnd", "customeInstallBtn"), "install clicked")
        box = sc.message("MessageBox2Wnd", "no-space", "closebtn")
        sc.expect(box and box.get("captionLbl", {}).get("text") == "Reminder", "caption Reminder")
        sc.expect(box and box.get("textLbl", {}).get("text", "").startswith("The current disk space is less than 1GB"),
                  "text 104 shown")
        c = sc.driver.until("MainWnd", lambda c: page(c) == 1 and c["customeInstallBtn"]["enabled"])
        sc.expect(c, "page unchanged, button on again")
        sc.expect(sc.server.requests() == [], "no request made")
        sc.expect(sc.driver.click("MainWnd", "closebtn"), "close clicked")
        sc.message("ExitTipWnd", "exit-tip", "okBtn")
    finally:
        sc.finish()
        if os.path.lexists(link):
            os.remove(link)
        subprocess.run(["umount", mount])


SCENARIOS = [("default-install", scenario_default_install), ("second-instance", scenario_second_instance),
             ("licence-unticked", scenario_licence_unticked), ("invalid-path", scenario_invalid_path),
             ("installed-copy", scenario_installed_copy), ("download-failure", scenario_download_failure),
             ("setup-failure", scenario_setup_failure), ("uninstall-failure", scenario_uninstall_failure),
             ("exit-tip", scenario_exit_tip), ("language", scenario_language),
             ("custom-folder", scenario_custom_folder), ("no-network", scenario_no_network),
             ("no-space", scenario_no_space), ("stale-record", scenario_stale_record),
             ("insnew-wait", scenario_insnew_waits_on_a_worker), ("hung-setup", scenario_hung_setup)]


OFFLINE = {"no-network"}


def main():
    wine_run, bin_dir, work = (os.path.abspath(a) for a in sys.argv[1:4])
    chosen = sys.argv[4:]
    os.makedirs(work, exist_ok=True)
    checker = uicheck.Checker()
    session = Session(wine_run, bin_dir, work)
    offline = None
    try:
        for name, body in SCENARIOS:
            if chosen and name not in chosen:
                continue
            print("== " + name)
            where = session
            if name in OFFLINE:
                offline = offline or Session(wine_run, bin_dir, os.path.join(work, "offline"), session.display, True)
                where = offline
            sc = Scenario(where, name, checker)
            try:
                body(sc)
            finally:
                sc.finish()
    finally:
        if offline:
            offline.close()
        session.close()
    print("pictures in " + work)
    checker.finish()


if __name__ == "__main__":
    main()
