#!/usr/bin/python3
"""The web remote in a real browser: headless Chromium driven by Selenium
opens the page the panel serves and switches through it against the emulator.
Only 127.0.0.1 is used. QX_WEBREMOTE_SHOTS=FOLDER also saves its pictures.

    tst_webremote.py BIN_DIR [ROW...]     (the build's bin folder; only the rows named)
Exit status 77 (skipped) when Chromium, its driver or Selenium is missing."""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions import interaction
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    from selenium.webdriver.common.actions.pointer_input import PointerInput
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


def stop(process):
    process.terminate()
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()


def main():
    bin_dir = sys.argv[1]
    folder = tempfile.mkdtemp(prefix="qx7-webremote-")
    token = "0123456789abcdef0123456789abcdef"
    processes = {}
    driver = None
    try:
        log = os.path.join(folder, "emulator.log")

        def start_emulator(at="0"):  # "tcp 127.0.0.1:PORT" once it listens
            processes["emu"] = subprocess.Popen([os.path.join(bin_dir, "qx7-emulator"), "--tcp", at, "--log", log],
                                                stdout=subprocess.PIPE, text=True)
            return processes["emu"].stdout.readline().split()[-1]

        device = start_emulator()
        with open(os.path.join(folder, "QX-7alt.ini"), "w", newline="") as ini:
            ini.write(";QX-7alt\r\nCom Port=0\r\nCom Port Settings=115200,n,8,1\r\nTcp Settings=%s\r\n" % device)
        # A copy of the program keeps its files beside itself, in the temporary folder.
        program = shutil.copy(os.path.join(bin_dir, "qx-7alt"), folder)
        shutil.copy(os.path.join(bin_dir, "..", "data", "languages", "QX-7alt_DE.lng"), folder)
        port = free_port()
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        running = [None]

        # The panel in `tongue`, its token asked of every client or of none; started again only for another.
        def start_panel(tongue="EN", others=False):
            if running[0] == (tongue, others):
                return
            if "panel" in processes:
                stop(processes.pop("panel"))
            with open(os.path.join(folder, "startup.ini"), "w", newline="") as ini:
                ini.write(";QX-7alt startup configuration file\r\nTongue=%s\r\n" % tongue)
            with open(os.open(os.path.join(folder, "remote.ini"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600),
                      "w", newline="") as ini:
                ini.write("AllowOtherComputers=%d\r\nToken=%s\r\n" % (others, token))
            processes["panel"] = subprocess.Popen([program, "--control-port", str(port)], cwd=folder, env=env)
            running[0] = (tongue, others)
            assert wait_for(lambda: socket.socket().connect_ex(("127.0.0.1", port)) == 0), "the panel does not listen"

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--no-first-run",
                     "--user-data-dir=" + os.path.join(folder, "chromium")):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        driver.set_window_size(1024, 1600)  # every button in view: the bars at the edges would take the clicks
        wait = WebDriverWait(driver, 20)
        emulator = lambda: open(log).read()
        writes = lambda: [line for line in emulator().splitlines() if "#Y 0," in line or "#PRST" in line]
        element = lambda name: driver.find_element(By.ID, name)
        marked = lambda name, mark="on": mark in element(name).get_attribute("class").split()
        locked = lambda: driver.find_element(By.TAG_NAME, "body").get_attribute("class") == "locked"

        def load(query=""):
            start_panel()
            driver.get("http://127.0.0.1:%d/%s" % (port, query.lstrip("/")))
            wait.until(lambda d: element("link").text.startswith("Connected") and element("w4bank4").text)

        def unlock():  # by a finger: the lift is no tap on the lock that took the hold button's place
            hold = ActionBuilder(driver, mouse=PointerInput(interaction.POINTER_TOUCH, "finger"))
            hold.pointer_action.move_to(element("unlock")).pointer_down().pause(1.3).pointer_up()
            hold.perform()
            assert not locked()

        def shoot(kind):
            for device, width, height in (("phone", 390, 844), ("tablet", 1024, 768)):
                if os.environ.get("QX_WEBREMOTE_SHOTS"):
                    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {"width": width, "height": height,
                                           "deviceScaleFactor": 1, "mobile": device == "phone"})
                    driver.save_screenshot(os.path.join(os.environ["QX_WEBREMOTE_SHOTS"],
                                                        "webremote-%s-%s.png" % (device, kind)))
            driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

        def locked_page_sends_nothing():
            load()
            shoot("locked")
            before = writes()  # read-backs may come, nothing that changes the device
            ActionChains(driver).click_and_hold(element("unlock")).pause(0.5).release().perform()  # half a hold
            time.sleep(1.2)
            for name in ("preset5", "w2bank1", "w1in3", "w3enabled", "w4fullscreen", "bglive", "bgbank2"):
                element(name).click()
            time.sleep(1.5)
            assert writes() == before and not element("ask").is_displayed()

        def bank_asks_first():
            load()
            unlock()
            for answer in ("cancel", "ok"):
                element("w2bank1").click()
                assert element("askText").text == "Loading an image from a bank will take a long time. Are you sure?"
                driver.find_element(By.CSS_SELECTOR, "#ask button[value=%s]" % answer).click()
            assert wait_for(lambda: "#Y 0,337,1,1" in emulator()) and emulator().count("#Y 0,337,") == 1, "OK, once"
            wait.until(lambda d: marked("w2bank1") and not marked("w2in1"))
            shoot("live")

        def arm_and_take_sends_on_take():
            load()
            element("armMode").click()
            load()  # the browser remembers the mode
            assert element("armMode").is_selected()
            unlock()
            element("preset5").click()
            time.sleep(1)
            assert "#PRST-RCL 5" not in emulator() and marked("preset5", "armed")
            element("takeButton").click()
            assert wait_for(lambda: "#PRST-RCL 5" in emulator()), "Take did not recall preset 5"
            wait.until(lambda d: marked("preset5", "last") and not marked("preset4", "last"))
            element("armMode").click()  # plain presses again for the rows after

        def locks_itself_when_idle():
            load("?idle=1")
            unlock()
            wait.until(lambda d: locked())

        def unknown_after_preset_then_read_back():
            load()
            unlock()
            element("preset3").click()
            WebDriverWait(driver, 5, 0.02).until(lambda d: element("w1now").text == "unknown" and not marked("w1in5"))
            WebDriverWait(driver, 5).until(lambda d: marked("w1in3") and marked("w2in4") and marked("bgbank2"))

        def press_shown_waiting_then_its_outcome():
            load()
            unlock()
            os.kill(processes["emu"].pid, signal.SIGSTOP)  # the device does not answer for now
            element("w1in6").click()
            wait.until(lambda d: marked("w1in6", "waiting") and element("message").text.endswith(": waiting…"))
            shoot("waiting")
            os.kill(processes["emu"].pid, signal.SIGCONT)
            wait.until(lambda d: element("message").text == "Window 1 → Input 6: done" and not marked("w1in6", "waiting"))
            # A press the panel cannot carry out shows its reason.
            os.kill(processes["emu"].pid, signal.SIGSTOP)
            element("w1in7").click()
            wait.until(lambda d: marked("w1in7", "waiting"))
            processes["emu"].kill()
            processes["emu"].wait()
            wait.until(lambda d: marked("message", "refused") and element("message").text.startswith("Window 1 → Input 7: 503"))
            start_emulator(device.split(":")[1])

        def pairing_link_sets_the_cookie():
            start_panel(others=True)
            base = "http://127.0.0.1:%d" % port
            ask = urllib.request.Request(base + "/api/v1/pair", method="POST", headers={"Authorization": "Bearer " + token})
            path = json.load(urllib.request.urlopen(ask))["path"]
            driver.get(base + path)  # the page is refused without the token: no cookie came before
            wait.until(lambda d: element("link").text.startswith("Connected") and element("w4bank4").text)
            assert driver.current_url == base + "/", driver.current_url  # the cookie's make: tst_remote
            shoot("paired")

        def german_page_follows_the_panel():
            load()
            start_panel("DE")  # the page stays open and takes the texts of the new run
            wait.until(lambda d: element("refresh").text == "Zurücklesen" and element("bglive").text == "DVI-Live-Eingang"
                       and element("link").text.startswith("Verbunden"))
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                   {"width": 390, "height": 844, "deviceScaleFactor": 1, "mobile": True})
            link = element("link")
            assert link.get_property("scrollWidth") <= link.get_property("clientWidth"), "the header cuts the link"
            driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
            unlock()
            element("w2bank1").click()
            assert [b.text for b in driver.find_elements(By.CSS_SELECTOR, "#ask button")] == ["Abbrechen", "OK"]
            driver.find_element(By.CSS_SELECTOR, "#ask button[value=cancel]").click()
            shoot("german")

        rows = [row for row in (locked_page_sends_nothing, bank_asks_first, unknown_after_preset_then_read_back,
                                locks_itself_when_idle, arm_and_take_sends_on_take,
                                press_shown_waiting_then_its_outcome, pairing_link_sets_the_cookie,
                                german_page_follows_the_panel)
                if row.__name__ in sys.argv[2:] or not sys.argv[2:]]
        failed = 0
        for row in rows:
            try:
                row()
            except Exception as e:  # one row's failure is reported, the next rows still run
                failed += 1
                print("FAIL! %s: %s %s" % (row.__name__, type(e).__name__, str(e).split("\n")[0]), flush=True)
        print("%d passed, %d failed" % (len(rows) - failed, failed))
        return 1 if failed else 0
    finally:
        if driver:
            driver.quit()
        for p in reversed(list(processes.values())):
            stop(p)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
