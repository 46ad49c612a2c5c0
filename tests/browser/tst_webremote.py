#!/usr/bin/python3
"""The web remote in a real browser: headless Chromium driven by Selenium
opens the page the panel serves, clicks a preset button, and the preset
reaches the emulator and is marked on the page. Only 127.0.0.1 is used.

    tst_webremote.py BIN_DIR      (the build's bin folder)
Exit status 77 (skipped) when Chromium, its driver or Selenium is missing."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    sys.exit(77)

CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    sys.exit(77)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return False


def main():
    bin_dir = sys.argv[1]
    folder = tempfile.mkdtemp(prefix="qx7-webremote-")
    processes = []
    driver = None
    try:
        log = os.path.join(folder, "emulator.log")
        emu = subprocess.Popen([os.path.join(bin_dir, "qx7-emulator"), "--tcp", "0", "--log", log],
                               stdout=subprocess.PIPE, text=True)
        processes.append(emu)
        device = emu.stdout.readline().split()[-1]  # "tcp 127.0.0.1:PORT"
        with open(os.path.join(folder, "QX-7alt.ini"), "w", newline="") as ini:
            ini.write(";QX-7alt\r\nCom Port=0\r\nCom Port Settings=115200,n,8,1\r\nTcp Settings=%s\r\n" % device)
        # A copy of the program keeps its files beside itself, in the temporary folder.
        program = shutil.copy(os.path.join(bin_dir, "qx-7alt"), folder)
        port = free_port()
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        processes.append(subprocess.Popen([program, "--control-port", str(port)], cwd=folder, env=env))

        def listening():
            try:
                socket.create_connection(("127.0.0.1", port), 0.2).close()
                return True
            except OSError:
                return False
        assert wait_for(listening), "the panel does not listen on its control port"

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--no-first-run",
                     "--user-data-dir=" + os.path.join(folder, "chromium")):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        driver.get("http://127.0.0.1:%d/" % port)
        wait = WebDriverWait(driver, 20)
        wait.until(lambda d: d.find_element(By.ID, "link").text.startswith("Connected"))
        button = wait.until(lambda d: d.find_element(By.ID, "preset5"))
        assert button.text == "preset_5", button.text
        button.click()
        # The preset reaches the device, and the page marks it from the state feed.
        assert wait_for(lambda: "#PRST-RCL 5" in open(log).read()), "preset 5 never reached the emulator"
        wait.until(lambda d: "last" in d.find_element(By.ID, "preset5").get_attribute("class"))
        assert "last" not in driver.find_element(By.ID, "preset4").get_attribute("class")
        print("1 passed, 0 failed")
        return 0
    finally:
        if driver:
            driver.quit()
        for p in reversed(processes):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
