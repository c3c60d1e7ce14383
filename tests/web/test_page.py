#!/usr/bin/env python3
"""The browser page in Debian's Chromium, headless, driven by Selenium: the packaged page
served from 127.0.0.1, sample images chosen through the file input, identification and fit
marks checked against the program's own texts, mod folder archives compared with the desktop's
mod folders (also with music chosen in the page's grid, and written into a folder), Cancel
during an install, the Russian interface, and a narrow (phone) viewport screenshot.

usage: test_page.py PAGE_FOLDER SAMPLES_FOLDER SCREENSHOT_FOLDER
SAMPLES_FOLDER holds the images named in CASES and the tests below, and desktop/NAME-voiceN,
the desktop's mod folder for the image NAME, the page's patch and its voice N, and
desktop/game.cia-voice2-music with the music MUSIC gives (scripts/test-web.sh makes them)."""

import base64
import functools
import hashlib
import http.server
import io
import os
import re
import sys
import threading
import unittest
import zipfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

PAGE, SAMPLES, SCREENSHOTS = sys.argv[1:4]
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Waits are generous: the machine may be loaded; no test measures time.
WAIT = 180


def texts(language):
    """Key -> text of a language file (single-line entries are all the test needs)."""
    path = os.path.join(REPO, "lang", language + ".lng")
    with open(path, encoding="utf-8-sig") as f:
        return {m.group(1): (m.group(2) or "").replace('""', '"') or m.group(3)
                for m in re.finditer(r'^(\w+)=(?:"(.*)"|(\S*))\r?$', f.read(), re.M)}


EN, RU = texts("English"), texts("Русский")

# The page's patch the samples are made for; the other one, "Veridane 256M", fits big.cxi only.
PATCH = "#patchList li[data-folder='Veridane']"

# file, form shown, region shown, fit mark of the page's patch (None: no check is run),
# key whose text the log or the patch's entry must hold
CASES = [
    ("game.cia", "CIA", "EUR", "fits", "FitChecked"),
    ("game.zcci", "3DS/CCI, compressed", "EUR", "fits", "FitChecked"),
    ("game-named.bin", "CXI", "EUR", "fits", "LogKindByContent"),
    ("other-data.cxi", "CXI", "EUR", "differs", "PatchDoesNotFit"),
    ("other-game.cia", "CIA", "", None, "ErrorWrongROM"),
    ("encrypted.3ds", "3DS/CCI", "", None, "WebEncryptedKeyFile"),
    ("not-an-image.cia", None, "", None, "ErrorNOTCIAROM"),
    ("damaged.zcci", None, "", None, "ErrorCompressedImage"),
]


# The music the grid test chooses, as scripts/test-web.sh gives it to the command line: slot,
# the title the page offers (from the sample patch's track list), whether only tracks of the
# slot's own group are offered.
MUSIC = [
    (0, "The Harbour Bell 2004", False),
    (33, "The Harbour Bell 2001", False),
    (10, "Streets in the Rain 2001", True),
]


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        handler = functools.partial(Quiet, directory=PAGE)
        cls.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.url = "http://127.0.0.1:%d/index.html" % cls.server.server_address[1]
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--lang=en-US"):
            options.add_argument(argument)
        cls.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        cls.driver.set_window_size(1100, 900)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.server.shutdown()

    def open_page(self):
        self.driver.get(self.url)
        WebDriverWait(self.driver, WAIT).until(
            lambda d: d.execute_script("return document.body.dataset.ready === '1'"))

    def choose(self, name, wait=True, field="sourceFile"):
        before = len(self.text_of("MemoLog"))
        self.driver.find_element(By.ID, field).send_keys(os.path.join(SAMPLES, name))
        # Done when the log has grown and the file input is given back (it is taken in the
        # same step that starts the log entry).
        WebDriverWait(self.driver, WAIT).until(
            lambda d: len(self.text_of("MemoLog")) > before and
            (not wait or d.find_element(By.ID, "sourceFile").is_enabled()))

    def resources(self):
        return self.driver.execute_script(
            "return performance.getEntriesByType('resource').map(e => e.name)")

    def text_of(self, element_id):
        return self.driver.find_element(By.ID, element_id).get_attribute("textContent")

    def test_samples(self):
        for name, form, region, fit, key in CASES:
            with self.subTest(name=name):
                self.open_page()
                self.choose(name)
                memo = self.text_of("MemoLog")
                self.assertIn(EN[key].split("%")[0], memo + self.text_of("patchList"))
                if form:
                    self.assertEqual(self.text_of("imageKind"), form)
                    self.assertRegex(self.text_of("titleId"), r"^[0-9A-F]{16}$")
                self.assertEqual(self.text_of("region"), region)
                marks = [e.get_attribute("data-fit")
                         for e in self.driver.find_elements(By.CSS_SELECTOR, PATCH)]
                self.assertEqual(marks, [fit] if fit else [None])
                if fit is None:
                    self.assertNotIn("pack.dat MD5", memo)

    def test_cancel_stops_a_check_and_a_new_check_needs_no_download(self):
        self.open_page()
        loaded = self.resources()
        self.choose("big.cxi", wait=False)
        WebDriverWait(self.driver, WAIT, poll_frequency=0.02).until(
            lambda d: int(d.find_element(By.ID, "ProgressBar1").get_attribute("value")) > 0)
        self.driver.find_element(By.ID, "BTNCancel").click()
        memo = self.text_of("MemoLog")
        self.assertIn(EN["WebCancelled"], memo)
        self.assertNotIn("pack.dat MD5", memo)
        self.choose("game.cia")
        self.assertIn(EN["FitChecked"], self.text_of("MemoLog"))
        self.assertEqual(self.resources(), loaded)

    def stored(self, data=True):
        """The files in the page's private storage, with the bytes of the one output (when
        `data`)."""
        names, data = self.stored_as("bytes" if data else None)
        return names, base64.b64decode(data) if data is not None else None

    def stored_digest(self):
        """The files in the page's private storage, with the SHA-256 of the one output (a card
        image is too large to hand over)."""
        return self.stored_as("digest")

    def stored_as(self, form):
        """The names in the page's private storage and, when it holds one file, that file as
        `form` gives: "bytes" (base64), "digest" (SHA-256 in hexadecimal) or None (nothing)."""
        answer = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const form = arguments[0];
            (async () => {
              const root = await navigator.storage.getDirectory();
              const names = [];
              let kind = null;
              for await (const [name, handle] of root.entries()) {
                names.push(name);
                kind = handle.kind;
              }
              if (names.length !== 1 || kind !== "file" || !form) return done({ names });
              const file = await (await root.getFileHandle(names[0])).getFile();
              const buffer = await file.arrayBuffer();
              if (form === "digest") {
                const digest = new Uint8Array(await crypto.subtle.digest("SHA-256", buffer));
                return done({ names, data: [...digest].map((b) => b.toString(16).padStart(2, "0"))
                  .join("") });
              }
              const bytes = new Uint8Array(buffer);
              let text = "";
              for (let i = 0; i < bytes.length; i += 0x8000)
                text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
              done({ names, data: btoa(text) });
            })().catch((error) => done({ error: String(error) }));""", form)
        self.assertNotIn("error", answer)
        return answer["names"], answer.get("data")

    def install(self, voice=None):
        """Installs the chosen patch with `voice` chosen on the page (the voice choice shows for
        the sample patches); done when the run ended, well or not."""
        before = len(self.text_of("MemoLog"))
        self.assertTrue(self.driver.find_element(By.ID, "voices").is_displayed())
        if voice is not None:
            choice = "input[name=voice][value='%d']" % voice
            self.driver.find_element(By.CSS_SELECTOR, choice).click()
        self.driver.find_element(By.ID, "BTNInstallPatch").click()
        WebDriverWait(self.driver, WAIT).until(
            lambda d: len(self.text_of("MemoLog")) > before and
            d.find_element(By.ID, "sourceFile").is_enabled())

    def desktop_files(self, folder):
        """Path -> bytes of the desktop's mod folder desktop/`folder`."""
        desktop = os.path.join(SAMPLES, "desktop", folder)
        expected = {}
        for root, _, files in os.walk(desktop):
            for file in files:
                path = os.path.join(root, file)
                with open(path, "rb") as f:
                    expected[os.path.relpath(path, desktop).replace(os.sep, "/")] = f.read()
        return expected

    def assert_installs_the_desktops_folder(self, name, voice, suffix=""):
        """Installs the chosen patch with `voice` and compares the archive with the desktop's
        mod folder for the image `name` and that voice (desktop/NAME-voiceN`suffix`)."""
        self.install(voice)
        memo = self.text_of("MemoLog")
        self.assertIn(EN["ModFolderSuccessful"].split(".")[0], memo)
        self.assertIn(EN["ApplyingVoice"], memo)
        self.assertNotIn(EN["WarningApplyingVoice"], memo)
        expected = self.desktop_files("%s-voice%d%s" % (name, voice, suffix))
        title_id = self.text_of("titleId")
        names, data = self.stored()
        self.assertEqual(names, [title_id + ".zip"])
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            self.assertIsNone(archive.testzip())
            got = {n: archive.read(n) for n in archive.namelist()}
        self.assertIn(title_id + "/qvtpatch-mod.json", got)
        self.assertIn(title_id + "/romfs/sound/QK123.bcsar", got)
        self.assertEqual(sorted(got), sorted(expected))
        for path, content in expected.items():
            self.assertEqual(got[path], content, path)
        link = self.driver.find_element(By.ID, "download")
        self.assertTrue(link.is_displayed())
        self.assertEqual(link.get_attribute("download"), title_id + ".zip")
        self.assertTrue(link.get_attribute("href").startswith("blob:"))
        unpack = self.text_of("unpackList")
        self.assertIn("load/mods/" + title_id, unpack)
        self.assertIn("luma/titles/" + title_id, unpack)

    def test_install_writes_the_desktops_mod_folder_as_a_zip(self):
        for name, voice in (("game.cia", 2), ("game.zcci", 1)):
            with self.subTest(name=name):
                self.open_page()
                self.choose(name)
                self.assert_installs_the_desktops_folder(name, voice)

    def test_music_chosen_in_the_grid_is_the_desktops_music(self):
        self.open_page()
        self.choose("game.cia")
        grid = self.driver.find_element(By.ID, "music")
        WebDriverWait(self.driver, WAIT).until(lambda d: grid.is_displayed())
        self.assertEqual(self.text_of("BTNMusicChange"), EN["BTNMusicChange"])
        grid.find_element(By.TAG_NAME, "summary").click()
        select = lambda slot: Select(grid.find_element(
            By.CSS_SELECTOR, "select[data-slot='%d']" % slot))
        self.assertEqual(select(0).first_selected_option.text, "Morning over Veridane 2001")
        same = grid.find_element(By.ID, "showSame")
        for slot, title, only_same in MUSIC:
            if same.is_selected() != only_same:
                same.click()
            select(slot).select_by_visible_text(title)
        # Slots 10 and 11 share their place in the sound archive: they change together.
        self.assertEqual(select(11).first_selected_option.text, "Streets in the Rain 2001")
        self.assert_installs_the_desktops_folder("game.cia", 2, "-music")
        self.assertIn(EN["ChangingMusic"], self.text_of("MemoLog"))

    def folder_files(self, name):
        """Path -> bytes of every file below the folder `name` of the page's private storage."""
        answer = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const files = {};
            async function walk(folder, prefix) {
              for await (const [name, handle] of folder.entries()) {
                if (handle.kind === "directory") {
                  await walk(handle, prefix + name + "/");
                  continue;
                }
                const bytes = new Uint8Array(await (await handle.getFile()).arrayBuffer());
                let text = "";
                for (let i = 0; i < bytes.length; i += 0x8000)
                  text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
                files[prefix + name] = btoa(text);
              }
            }
            navigator.storage.getDirectory()
              .then((root) => root.getDirectoryHandle(arguments[0]))
              .then((folder) => walk(folder, "")).then(() => done({ files }))
              .catch((error) => done({ error: String(error) }));""", name)
        self.assertNotIn("error", answer)
        return {path: base64.b64decode(data) for path, data in answer["files"].items()}

    def test_folder_output_writes_the_desktops_folder_into_the_picked_folder(self):
        self.open_page()
        self.addCleanup(self.driver.execute_async_script, """
            const done = arguments[arguments.length - 1];
            navigator.storage.getDirectory().then(async (root) => {
              for (const name of ["picked", "full"])
                await root.removeEntry(name, { recursive: true }).catch(() => {});
            }).then(done, done);""")
        # A folder of the page's private storage stands in for the browser's folder picker.
        self.driver.execute_script("""
            page.pickFolder = async () => (await navigator.storage.getDirectory())
              .getDirectoryHandle("picked", { create: true });""")
        self.choose("game.cia")
        choice = self.driver.find_element(By.ID, "outputModFolder")
        self.assertTrue(choice.is_displayed())
        self.assertEqual(self.text_of("WebOutputModFolder"), EN["WebOutputModFolder"])
        choice.click()
        self.install(2)
        memo = self.text_of("MemoLog")
        self.assertIn(EN["ModFolderSuccessful"].split(".")[0], memo)
        title_id = self.text_of("titleId")
        self.assertEqual(self.folder_files("picked"), self.desktop_files("game.cia-voice2"))
        self.assertFalse(self.driver.find_element(By.ID, "download").is_displayed())
        # The archive it was copied from is gone; a second run does not touch the folder there.
        self.assertEqual(self.stored()[0], ["picked"])
        self.install(2)
        self.assertIn(EN["WebFolderExists"].replace("%1", title_id), self.text_of("MemoLog"))
        self.assertEqual(sorted(self.folder_files("picked")),
                         sorted(self.desktop_files("game.cia-voice2")))
        # A folder that takes two files and then no more: what was written is removed.
        self.driver.execute_script("""
            page.pickFolder = async () => {
              const real = await (await navigator.storage.getDirectory())
                .getDirectoryHandle("full", { create: true });
              let files = 0;
              const failing = (folder) => ({ name: folder.name,
                entries: () => folder.entries(),
                removeEntry: (name, options) => folder.removeEntry(name, options),
                getDirectoryHandle: async (name, options) =>
                  failing(await folder.getDirectoryHandle(name, options)),
                getFileHandle: async (name, options) => {
                  if (++files > 2) throw new Error("no space left");
                  return folder.getFileHandle(name, options);
                } });
              return failing(real);
            };""")
        self.install(2)
        self.assertIn(EN["WebFolderFailed"], self.text_of("MemoLog"))
        self.assertEqual(self.folder_files("full"), {})

    def test_a_large_install_stays_small_and_cancel_leaves_no_file(self):
        self.open_page()
        self.choose("big.cxi")
        self.assertEqual(self.driver.find_element(
            By.CSS_SELECTOR, "#patchList li.selected").get_attribute("data-folder"), "Veridane 256M")
        self.install()
        self.assertIn(EN["ModFolderSuccessful"].split(".")[0], self.text_of("MemoLog"))
        heap = self.driver.execute_script("return page.heapBytes")
        print("engine memory after a 256 MiB install with voices: %.1f MiB" % (heap / 2**20),
              file=sys.stderr)
        self.assertLess(heap, 512 * 2**20)
        # Again, ended while the difference is applied: no archive is offered or kept.
        self.driver.find_element(By.ID, "BTNInstallPatch").click()
        WebDriverWait(self.driver, WAIT, poll_frequency=0.02).until(
            lambda d: int(d.find_element(By.ID, "ProgressBar1").get_attribute("value")) >= 50)
        self.driver.find_element(By.ID, "BTNCancel").click()
        self.assertIn(EN["InstallCanceled"], self.text_of("MemoLog"))
        self.assertFalse(self.driver.find_element(By.ID, "download").is_displayed())
        WebDriverWait(self.driver, WAIT).until(lambda d: self.stored()[0] == [])

    def test_card_images_are_the_desktops_and_cancel_leaves_no_file(self):
        self.open_page()
        self.choose("game.cia")
        self.assertFalse(self.driver.find_element(By.ID, "outputCci").is_enabled())
        self.choose("game.3ds")
        # The compressed image's metadata holds the time it was made.
        dateless = lambda data: re.sub(rb"date\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", b"date", data, 1)
        for output, desktop in (("cci", "game.3ds-voice1.3ds"), ("zcci", "game.3ds-voice1.zcci")):
            with self.subTest(output=output):
                self.driver.find_element(By.ID, "output" + output.capitalize()).click()
                self.install(1)
                self.assertIn(EN["PatchingSuccessful"].split(".")[0], self.text_of("MemoLog"))
                name = self.text_of("titleId") + "." + output
                with open(os.path.join(SAMPLES, "desktop", desktop), "rb") as f:
                    expected = dateless(f.read())
                if output == "cci":
                    names, digest = self.stored_digest()
                    self.assertEqual(digest, hashlib.sha256(expected).hexdigest())
                else:
                    names, data = self.stored()
                    self.assertEqual(len(data), len(expected) + len("2000-01-01T00:00:00Z"))
                    self.assertTrue(dateless(data) == expected, "the .zcci differs")
                self.assertEqual(names, [name])  # no scratch file is left
                link = self.driver.find_element(By.ID, "download")
                self.assertEqual(link.get_attribute("download"), name)
        # Ended while the image is written: neither the image nor the scratch file stays.
        self.choose("big.3ds")
        self.driver.find_element(By.ID, "outputCci").click()
        self.driver.find_element(By.ID, "BTNInstallPatch").click()
        WebDriverWait(self.driver, WAIT, poll_frequency=0.02).until(
            lambda d: int(d.find_element(By.ID, "ProgressBar1").get_attribute("value")) >= 86)
        self.assertEqual(len(self.stored(data=False)[0]), 2)
        self.driver.find_element(By.ID, "BTNCancel").click()
        self.assertIn(EN["InstallCanceled"], self.text_of("MemoLog"))
        self.assertFalse(self.driver.find_element(By.ID, "download").is_displayed())
        WebDriverWait(self.driver, WAIT).until(lambda d: self.stored(data=False)[0] == [])

    def test_cia_is_the_desktops(self):
        self.open_page()
        self.choose("game.cia")
        self.driver.find_element(By.ID, "outputCia").click()
        self.install(2)
        self.assertIn(EN["PatchingSuccessful"].split(".")[0], self.text_of("MemoLog"))
        names, digest = self.stored_digest()
        with open(os.path.join(SAMPLES, "desktop", "game.cia-voice2.cia"), "rb") as f:
            self.assertEqual(digest, hashlib.sha256(f.read()).hexdigest())
        self.assertEqual(names, [self.text_of("titleId") + ".cia"])  # no scratch file is left

    def test_an_encrypted_dump_opens_with_the_users_key_file(self):
        self.open_page()
        self.choose("locked.cia")
        self.assertTrue(self.driver.find_element(By.ID, "keys").is_displayed())
        self.choose("no-keys.txt", field="keyFiles")
        self.assertIn(EN["LogEncryptedKeyProblem"], self.text_of("MemoLog"))
        self.choose("keys.txt", field="keyFiles")
        memo = self.text_of("MemoLog")
        self.assertIn(EN["LogEncryptedWillDecrypt"], memo)
        self.assertIn(EN["FitChecked"], memo)
        fit = self.driver.find_element(By.CSS_SELECTOR, PATCH)
        self.assertEqual(fit.get_attribute("data-fit"), "fits")
        # Its music is read through the keys as well.
        first = "#musicGrid select[data-slot='0'] option:checked"
        WebDriverWait(self.driver, WAIT).until(
            lambda d: d.find_elements(By.CSS_SELECTOR, first))
        self.assertEqual(self.driver.find_element(By.CSS_SELECTOR, first)
                         .get_attribute("textContent"), "Morning over Veridane 2001")
        # The same game as game.cia under its encryption: the same mod folder.
        self.assert_installs_the_desktops_folder("game.cia", 2)
        # No key value reaches the page.
        page_text = self.driver.find_element(By.TAG_NAME, "body").get_attribute("textContent")
        with open(os.path.join(SAMPLES, "keys.txt"), encoding="utf-8") as f:
            values = [line.split("=", 1)[1].strip() for line in f if "=" in line]
        self.assertTrue(values)
        for value in values:
            self.assertNotIn(value.upper(), page_text.upper())

    def test_russian_interface_on_a_phone(self):
        self.open_page()
        Select(self.driver.find_element(By.ID, "CBLang")).select_by_value("Русский")
        self.choose("game.cia")
        self.assertEqual(self.text_of("WebHeading"), RU["WebHeading"])
        self.assertEqual(self.text_of("BTNCancel"), RU["Cancel"])
        self.assertIn(RU["FitChecked"], self.text_of("MemoLog"))
        mark = self.driver.find_element(By.CSS_SELECTOR, PATCH + " .mark")
        self.assertEqual(mark.get_attribute("textContent"), RU["FitMarkFits"])
        # The music grid, open, fits the phone's width too.
        music = self.driver.find_element(By.ID, "music")
        WebDriverWait(self.driver, WAIT).until(lambda d: music.is_displayed())
        music.find_element(By.TAG_NAME, "summary").click()
        self.assertEqual(self.text_of("MainMenu"), RU["MainMenu"])
        self.driver.set_window_size(390, 1200)
        width = self.driver.execute_script("return document.documentElement.scrollWidth")
        viewport = self.driver.execute_script("return window.innerWidth")
        self.assertLessEqual(width, viewport)  # nothing wider than a phone's screen
        self.driver.execute_script("document.getElementById('music').scrollIntoView()")
        os.makedirs(SCREENSHOTS, exist_ok=True)
        self.driver.save_screenshot(os.path.join(SCREENSHOTS, "web-narrow-ru.png"))
        self.driver.set_window_size(1100, 900)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
