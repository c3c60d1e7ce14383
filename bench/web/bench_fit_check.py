#!/usr/bin/env python3
"""Times the page's fit check of IMAGE (choice to marks) against md5sum of IMAGE, alternately,
best of three each; prints both, the ratio page / md5sum and the engine's memory.
usage: bench_fit_check.py PAGE_FOLDER IMAGE"""

import functools
import http.server
import os
import subprocess
import sys
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

page_folder, image = sys.argv[1:3]


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


def page_check():
    driver.get("http://127.0.0.1:%d/index.html" % server.server_address[1])
    WebDriverWait(driver, 600).until(
        lambda d: d.execute_script("return document.body.dataset.ready === '1'"))
    start = time.perf_counter()
    driver.find_element(By.ID, "sourceFile").send_keys(os.path.abspath(image))
    # Done when the log has an entry and the file input is given back.
    WebDriverWait(driver, 3600, poll_frequency=0.02).until(
        lambda d: d.execute_script("const input = document.getElementById('sourceFile');"
                                   "return !input.disabled && "
                                   "document.getElementById('MemoLog').textContent !== ''"))
    seconds = time.perf_counter() - start
    if not driver.execute_script("return page.digests"):
        sys.exit("the page's check failed: " + driver.find_element(By.ID, "MemoLog").text)
    return seconds, driver.execute_script("return page.heapBytes")


def md5sum():
    start = time.perf_counter()
    subprocess.run(["md5sum", image], check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


try:
    pages, sums, heap = [], [], 0
    for _ in range(3):
        sums.append(md5sum())
        seconds, heap = page_check()
        pages.append(seconds)
    size = os.path.getsize(image) / 2**20
    print("image: %.0f MiB" % size)
    print("md5sum of the image:    %.2f s (%.0f MiB/s)" % (min(sums), size / min(sums)))
    print("page's fit check:       %.2f s (%.0f MiB/s)" % (min(pages), size / min(pages)))
    print("ratio page / md5sum:    %.2f" % (min(pages) / min(sums)))
    print("engine memory at the end: %.0f MiB" % (heap / 2**20))
finally:
    driver.quit()
    server.shutdown()
