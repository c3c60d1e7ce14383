#!/usr/bin/env python3
"""Times the page's install of a mod folder from IMAGE (Install to the download offered, the
check before it not counted) against `qvtpatch --kind mods` of the same image and patch,
alternately, best of two each; prints both, the ratio page / desktop and the engine's memory.
With KIND 3ds or zcci, the page's card image (.cci or .zcci) against `qvtpatch --kind KIND`;
with cia, the page's CIA.
usage: bench_mod_folder.py PAGE_FOLDER IMAGE QVTPATCH PATCH_FOLDER DESKTOP_OUTPUT [KIND]"""

import functools
import http.server
import os
import shutil
import subprocess
import sys
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

page_folder, image, qvtpatch, patch, output = sys.argv[1:6]
kind = sys.argv[6] if len(sys.argv) > 6 else "mods"


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(
    ("127.0.0.1", 0), functools.partial(Quiet, directory=page_folder))
threading.Thread(target=server.serve_forever, daemon=True).start()
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for argument in ("--headless", "--no-sandbox", "--disable-gpu"):
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def page_install():
    driver.get("http://127.0.0.1:%d/index.html" % server.server_address[1])
    WebDriverWait(driver, 600).until(
        lambda d: d.execute_script("return document.body.dataset.ready === '1'"))
    driver.find_element(By.ID, "sourceFile").send_keys(os.path.abspath(image))
    WebDriverWait(driver, 3600).until(
        lambda d: not d.find_element(By.ID, "BTNInstallPatch").get_attribute("disabled"))
    if kind != "mods":
        output = {"3ds": "outputCci", "zcci": "outputZcci", "cia": "outputCia"}[kind]
        driver.find_element(By.ID, output).click()
    start = time.perf_counter()
    driver.find_element(By.ID, "BTNInstallPatch").click()
    WebDriverWait(driver, 3600, poll_frequency=0.05).until(
        lambda d: d.find_element(By.ID, "sourceFile").is_enabled())
    seconds = time.perf_counter() - start
    if not driver.find_element(By.ID, "download").is_displayed():
        sys.exit("the page's install failed: " + driver.find_element(By.ID, "MemoLog").text)
    return seconds, driver.execute_script("return page.heapBytes")


def desktop_install():
    shutil.rmtree(output, ignore_errors=True)
    if os.path.isfile(output):
        os.remove(output)
    start = time.perf_counter()
    subprocess.run([qvtpatch, "--source", image, "--output", output, "--kind", kind,
                    "--patch", patch, "--quiet"], check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


try:
    pages, desktops, heap = [], [], 0
    for _ in range(2):
        desktops.append(desktop_install())
        seconds, heap = page_install()
        pages.append(seconds)
    size = os.path.getsize(image) / 2**20
    print("image: %.0f MiB" % size)
    what = {"3ds": ("card image run", ".cci"), "zcci": ("compressed card image run", ".zcci"),
            "cia": ("CIA run", ".cia")}
    what = what.get(kind, ("mod folder run", "mod folder .zip"))
    print("desktop %s:  %.2f s" % (what[0], min(desktops)))
    print("page's %s:  %.2f s" % (what[1], min(pages)))
    print("ratio page / desktop:    %.2f" % (min(pages) / min(desktops)))
    print("engine memory at the end: %.0f MiB" % (heap / 2**20))
finally:
    driver.quit()
    server.shutdown()
