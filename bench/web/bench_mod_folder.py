#!/usr/bin/env python3
"""Times the page's install of a mod folder from IMAGE (Install to the download offered, the
check before it not counted) against `qvtpatch --kind mods` of the same image and patch,
alternately, best of two each; prints each run's figures with where the page's install spent
its time (reads of the image, writes, the final flush: web/worker.js's timing), then the best of
each, the ratio page / desktop, the engine's memory and the renderer's memory at its highest.
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
    return seconds, driver.execute_script("return page.heapBytes"), \
        driver.execute_script("return page.timing || null")


def renderer_bytes():
    """The resident memory of this driver's browser's renderer processes (the page's and its
    worker's), summed; 0 where /proc cannot tell."""
    parents, total = {}, 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as f:
                parents[int(pid)] = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            pass
    driver_pid = driver.service.process.pid
    for pid in parents:
        ancestor = parents.get(pid)
        while ancestor not in (None, 0, 1, driver_pid):
            ancestor = parents.get(ancestor)
        if ancestor != driver_pid:
            continue
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if b"--type=renderer" not in f.read():
                    continue
            with open("/proc/%d/statm" % pid) as f:
                total += int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        except (OSError, IndexError, ValueError):
            pass
    return total


class RendererPeak:
    """The most renderer memory seen while it runs, sampled a few times a second."""

    def __enter__(self):
        self.peak, self.running = 0, True
        self.thread = threading.Thread(target=self.sample, daemon=True)
        self.thread.start()
        return self

    def sample(self):
        while self.running:
            self.peak = max(self.peak, renderer_bytes())
            time.sleep(0.2)

    def __exit__(self, *args):
        self.running = False
        self.thread.join()


def desktop_install():
    shutil.rmtree(output, ignore_errors=True)
    if os.path.isfile(output):
        os.remove(output)
    start = time.perf_counter()
    subprocess.run([qvtpatch, "--source", image, "--output", output, "--kind", kind,
                    "--patch", patch, "--quiet"], check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


try:
    pages, desktops, heap, renderer = [], [], 0, 0
    for run in range(2):
        desktops.append(desktop_install())
        with RendererPeak() as peak:
            seconds, heap, timing = page_install()
        renderer = max(renderer, peak.peak)
        pages.append(seconds)
        print("run %d: desktop %.2f s, page %.2f s, ratio %.2f" %
              (run + 1, desktops[-1], seconds, seconds / desktops[-1]))
        if timing:
            print("  page's time: " + ", ".join(
                "%s %.2f s (%d calls)" % (what, entry["ms"] / 1000, entry["calls"])
                for what, entry in timing.items()))
    size = os.path.getsize(image) / 2**20
    print("image: %.0f MiB" % size)
    what = {"3ds": ("card image run", ".cci"), "zcci": ("compressed card image run", ".zcci"),
            "cia": ("CIA run", ".cia")}
    what = what.get(kind, ("mod folder run", "mod folder .zip"))
    print("desktop %s:  %.2f s" % (what[0], min(desktops)))
    print("page's %s:  %.2f s" % (what[1], min(pages)))
    print("ratio page / desktop:    %.2f" % (min(pages) / min(desktops)))
    print("engine memory at the end: %.0f MiB" % (heap / 2**20))
    print("renderer memory at most: %.0f MiB" % (renderer / 2**20))
finally:
    driver.quit()
    server.shutdown()
