#!/usr/bin/python3
"""The operator's console in a real browser: Debian's Chromium, driven headless by Selenium through
chromium-driver, against the headless program serving a demo installation with a JPK library whose
password is wrong and one whose file is missing.

    console_browser.py BUILD_DIR [SCREENSHOT_DIR]

Exits 77 (skipped) when Chromium, its driver or Selenium is not installed.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

CHROMIUM = "/usr/bin/chromium"
DRIVER = "/usr/bin/chromedriver"
TIMEOUT = 30  # seconds for anything the page is waited for

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("skipped: python3-selenium is not installed")
    sys.exit(77)
if not (os.access(CHROMIUM, os.X_OK) and os.access(DRIVER, os.X_OK)):
    print("skipped: chromium or chromium-driver is not installed")
    sys.exit(77)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def check(condition, what):
    if not condition:
        raise AssertionError(what)


class Daemon:
    """The headless program in `folder`, its output collected line by line."""

    def __init__(self, build, folder, admin_port):
        self.lines = []
        self.lock = threading.Lock()
        self.process = subprocess.Popen(
            [os.path.join(build, "NuvoClientDaemon"), "--admin", "127.0.0.1:%d" % admin_port],
            cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            with self.lock:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))

    def wait_line(self, prefix):
        until = time.time() + 60
        while time.time() < until:
            with self.lock:
                for line in self.lines:
                    if prefix in line:
                        return line
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        raise AssertionError("no line with %r:\n%s" % (prefix, "\n".join(self.lines)))

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        return self.process.wait(30)


def demo_folder(build, work, port):
    folder = os.path.join(work, "demo")
    subprocess.run([os.path.join(build, "NuvoDemoData"), folder, str(port)], check=True, stdout=subprocess.DEVNULL)
    jpk_list = os.path.join(folder, "JpkList.txt")
    with open(jpk_list, "rb") as f:
        first = next(line for line in f.read().split(b"\r\n") if line.lower().split(b"|")[0].endswith(b".jpk"))
    path, password = first.split(b"|")[:2]
    data = os.path.dirname(path)
    shutil.copyfile(path, os.path.join(data, b"locked.jpk"))
    with open(jpk_list, "ab") as f:
        f.write(data + b"/locked.jpk|not-the-password\r\n" + data + b"/missing.jpk|" + password + b"\r\n")
    return folder


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1280,1200", "--lang=zh-CN",
                 "--user-data-dir=" + profile):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(executable_path=DRIVER), options=options)


def main():
    build = os.path.abspath(sys.argv[1])
    shots = sys.argv[2] if len(sys.argv) > 2 else None
    work = tempfile.mkdtemp(prefix="nuvo-browser-")
    daemon = driver = None
    load_stop = threading.Event()
    try:
        game_port, admin_port = free_port(), free_port()
        folder = demo_folder(build, work, game_port)
        daemon = Daemon(build, folder, admin_port)
        console = daemon.wait_line("浏览器控制台: ").split(": ", 1)[1]
        game_url = daemon.wait_line("微端部署地址: ").split(": ", 1)[1]
        base = "http://127.0.0.1:%d/" % admin_port
        check(console.startswith(base + "#token="), console)

        # Game clients at work, so that the chart has something to show (bounded: it stops with the test).
        def load():
            for _ in range(600):
                if load_stop.is_set():
                    return
                subprocess.run([os.path.join(build, "NuvoClient"), "check", folder, game_url],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        threading.Thread(target=load, daemon=True).start()

        driver = browser(os.path.join(work, "profile"))
        wait = WebDriverWait(driver, TIMEOUT)
        shown = lambda element_id: driver.find_element(By.ID, element_id).is_displayed()

        # Without the token: the prompt and nothing else.
        driver.get(base)
        wait.until(lambda d: shown("login"))
        check(not shown("console"), "the console shows without a token")
        check(not driver.find_elements(By.CSS_SELECTOR, "#resources tbody tr"), "resource rows without a token")
        check(driver.find_element(By.ID, "panel0").get_attribute("textContent") == "[-]", "status without a token")
        # A wrong token: the prompt again, saying so.
        driver.get(base + "#token=" + "0" * 64)
        wait.until(lambda d: shown("login-error"))
        check(not shown("console"), "the console shows with a wrong token")

        # With the token from the printed address.
        driver.get(console)
        wait.until(lambda d: shown("console"))
        check(driver.execute_script("return location.hash") == "", "the token stays in the address bar")
        rows = wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#resources tbody tr")
                          if len(d.find_elements(By.CSS_SELECTOR, "#resources tbody tr")) >= 17 else False)
        by_path = {r.find_element(By.CSS_SELECTOR, "td.path").text: r for r in rows}
        locked = next(r for p, r in by_path.items() if p.endswith("/locked.jpk"))
        missing = next(r for p, r in by_path.items() if p.endswith("/missing.jpk"))
        check(locked.find_element(By.CSS_SELECTOR, "td.state").text == "密码错误", "locked.jpk's state")
        check(missing.find_element(By.CSS_SELECTOR, "td.state").text == "文件不存在", "missing.jpk's state")
        for row in (locked, missing):
            cell = row.find_element(By.CSS_SELECTOR, "td.state")
            check(cell.value_of_css_property("color") in ("rgba(255, 0, 0, 1)", "rgb(255, 0, 0)"), "red text")
            check(cell.value_of_css_property("background-color") in ("rgba(255, 255, 0, 1)", "rgb(255, 255, 0)"),
                  "yellow ground")
        good = [r for r in rows if r.find_element(By.CSS_SELECTOR, "td.state").text == "正常"]
        check(len(good) == len(rows) - 2, "every other row is 正常")
        check("failed" not in (good[0].get_attribute("class") or ""), "a normal row drawn as failed")
        check(len(good[0].find_element(By.CSS_SELECTOR, "td.hash").text) == 32, "a JPK's index hash")
        check(driver.find_element(By.ID, "panel1").text == "运行中", "panel 1")

        # The chart: samples arrive every second and the canvas is drawn.
        wait.until(lambda d: int(d.find_element(By.ID, "traffic-chart").get_attribute("data-samples") or 0) >= 3)
        wait.until(lambda d: d.execute_script(
            "return Chart.getChart('traffic-chart').data.datasets[0].data.some(p => p.y > 0)"))
        painted = driver.execute_script("""
            const c = document.getElementById('traffic-chart');
            const px = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
            let n = 0;
            for (let i = 3; i < px.length; i += 4) if (px[i] !== 0) ++n;
            return n;""")
        check(painted > 1000, "the chart's canvas is blank (%d pixels)" % painted)

        # Reload: the pass's lines come to the log, and the state comes back.
        log = lambda: driver.find_element(By.ID, "log").get_attribute("textContent")
        passes = log().count("资源已加载 ")
        driver.find_element(By.CSS_SELECTOR, "button[data-command=reload]").click()
        wait.until(lambda d: log().count("资源已加载 ") > passes)
        check("未加载: " in log() and "(密码错误)" in log(), "the pass's lines name the wrong password")
        wait.until(lambda d: d.find_element(By.ID, "panel1").text == "运行中"
                   and d.find_element(By.ID, "console").get_attribute("data-pass-running") == "false")

        # Stop asks first; cancelled, nothing happens.
        driver.find_element(By.CSS_SELECTOR, "button[data-command=stop]").click()
        wait.until(lambda d: shown("confirm"))
        driver.find_element(By.ID, "confirm-cancel").click()
        time.sleep(1.5)
        check(driver.find_element(By.ID, "panel1").text == "运行中", "a cancelled stop stopped")
        driver.find_element(By.CSS_SELECTOR, "button[data-command=stop]").click()
        wait.until(lambda d: shown("confirm"))
        driver.find_element(By.ID, "confirm-ok").click()
        wait.until(lambda d: d.find_element(By.ID, "panel1").text == "已停止")
        driver.find_element(By.CSS_SELECTOR, "button[data-command=start]").click()
        wait.until(lambda d: d.find_element(By.ID, "panel1").text == "运行中")
        wait.until(lambda d: "微端服务器启动完毕" in log().split("微端服务器已停止")[-1])

        if shots:
            time.sleep(20)  # more seconds of traffic on the chart
            driver.execute_script("document.getElementById('log').scrollTop = 1e9")
            driver.save_screenshot(os.path.join(shots, "browser.png"))
        print("console in the browser: login prompt, %d resource rows, chart, reload, stop and start all work"
              % len(rows))
        return 0
    finally:
        load_stop.set()
        if driver:
            driver.quit()
        status = daemon.stop() if daemon else 0
        shutil.rmtree(work, ignore_errors=True)
        if status != 0:
            print("the headless program ended with status %d" % status)
            sys.exit(1)


if __name__ == "__main__":
    sys.exit(main())
