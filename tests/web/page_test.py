"""The web page in Debian's Chromium, driven through Selenium: what a user types, opens and
downloads, checked against the console programs run on the same files."""
import argparse
import functools
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from selenium import webdriver
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

ARGS = None
RANDOM_SCORES = 30
JAPANESE_SCORE = 'sn("さくら ～ 桜①")\ncr("(c) 山田 ｶﾅ")\nch1 { "t90 o4 l8 cdefg" }\n'
WAIT_S = 20
# The longest the page's main thread may stay busy while a pasted megabyte is checked.
RESPONSIVE_GAP_MS = 200


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}

    def log_message(self, *args):
        pass


def console_midi(tarvk32c, score_path, work):
    """The .mid tarvk32c writes for a score, compiled in a folder of its own."""
    shutil.copy(score_path, os.path.join(work, "score.fms"))
    out = subprocess.run([tarvk32c, "score.fms"], cwd=work, capture_output=True)
    midi = os.path.join(work, "score.mid")
    if out.returncode != 0:
        return None, out.stdout
    with open(midi, "rb") as f:
        data = f.read()
    os.remove(midi)
    return data, out.stdout


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(os.path.join(ARGS.page, "index.html")):
            raise unittest.SkipTest  # replaced by a failure below
        handler = functools.partial(QuietHandler, directory=ARGS.page)
        cls.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.url = "http://127.0.0.1:%d/" % cls.server.server_address[1]
        cls.temp = tempfile.mkdtemp(prefix="tarv-web-")
        cls.downloads = os.path.join(cls.temp, "downloads")
        os.mkdir(cls.downloads)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--no-first-run",
                     "--disable-quic", "--lang=en-US", "--window-size=1200,800",
                     "--user-data-dir=" + os.path.join(cls.temp, "profile")):
            options.add_argument(flag)
        options.add_experimental_option("prefs", {
            "download.default_directory": cls.downloads,
            "download.prompt_for_download": False,
            "intl.accept_languages": "en-US"})
        cls.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        cls.driver.execute_cdp_cmd("Page.setDownloadBehavior",
                                   {"behavior": "allow", "downloadPath": cls.downloads})

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.server.shutdown()
        shutil.rmtree(cls.temp, ignore_errors=True)

    # Helpers: one line each for what a user does.

    def load(self, fragment=""):
        self.driver.get(self.url + fragment)
        self.wait_checks(1)

    def checks(self):
        return int(self.driver.find_element(By.TAG_NAME, "body").get_attribute("data-checks") or 0)

    def wait_checks(self, at_least):
        WebDriverWait(self.driver, WAIT_S).until(lambda d: self.checks() >= at_least)

    def editor_text(self):
        return self.driver.execute_script("return window.scoreEditor.text()")

    def type_score(self, text):
        """Selects all and types the text key by key, then waits for the check after the pause."""
        content = self.driver.find_element(By.CSS_SELECTOR, ".cm-content")
        content.click()
        content.send_keys(Keys.CONTROL, "a")
        content.send_keys(Keys.DELETE)
        before = self.checks()
        for line_number, line in enumerate(text.split("\n")):
            if line_number:
                content.send_keys(Keys.ENTER)
                # CodeMirror keeps the indentation of the line before; a score has none.
                content.send_keys(Keys.SHIFT, Keys.HOME)
                content.send_keys(Keys.DELETE)
            content.send_keys(line)
        WebDriverWait(self.driver, WAIT_S).until(
            lambda d: self.checks() > before and self.editor_text() == text)
        self.wait_quiet()

    def wait_quiet(self):
        """Waits until a check ran on the text now in the editor."""
        count = self.checks()
        time.sleep(0.6)
        while self.checks() != count:
            count = self.checks()
            time.sleep(0.6)

    def open_file(self, path):
        before = self.checks()
        self.driver.find_element(By.ID, "file").send_keys(path)
        self.wait_checks(before + 1)
        self.wait_quiet()

    def download(self, button):
        """Clicks the button and returns the name and bytes of the file the browser saved."""
        for name in os.listdir(self.downloads):
            os.remove(os.path.join(self.downloads, name))
        self.driver.find_element(By.ID, button).click()

        def finished(_):
            names = os.listdir(self.downloads)
            return len(names) == 1 and not names[0].endswith(".crdownload") and names
        name = WebDriverWait(self.driver, WAIT_S).until(finished)[0]
        with open(os.path.join(self.downloads, name), "rb") as f:
            return name, f.read()

    def status(self):
        return self.driver.find_element(By.ID, "status").text

    def notice(self):
        return self.driver.find_element(By.ID, "notice").text

    # The checks.

    def test_diagnostic_stands_under_the_failing_command(self):
        self.load()
        cases = [
            # score, the failing command's text, its line (0-based)
            ('ch1 { "cde j8 f" }', "j", 0),
            ('sn("日本の歌")\nch2 { "c8 d8" }\n/* 歌 */ ch3 { "o4 e4 c+4 w g" }', "w", 2),
        ]
        for score, command, line in cases:
            with self.subTest(score=score):
                self.type_score(score)
                marks = self.driver.find_elements(By.CSS_SELECTOR, ".tv-diagnostic")
                self.assertEqual([m.text for m in marks], [command])
                lines = self.driver.find_elements(By.CSS_SELECTOR, ".cm-line")
                self.assertIn(marks[0], lines[line].find_elements(By.CSS_SELECTOR, ".tv-diagnostic"))
                message = self.driver.find_element(By.CSS_SELECTOR, ".tv-diagnostic-message").text
                with tempfile.TemporaryDirectory() as work:
                    path = os.path.join(work, "typed.fms")
                    with open(path, "wb") as f:
                        f.write(score.encode("cp932"))
                    _, report = console_midi(ARGS.tarvk32c, path, work)
                self.assertIn(message.encode("ascii"), report)
        self.type_score('ch1 { "cde f8 g" }')
        self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, ".tv-diagnostic"), [])
        self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, ".tv-diagnostic-message"), [])

    def test_downloaded_midi_is_tarvk32c_s(self):
        self.load()
        scores = os.path.join(self.temp, "scores")
        os.mkdir(scores)
        subprocess.run([ARGS.random_scores, scores, str(RANDOM_SCORES), "34"], check=True)
        # Texts in code page 932 go into the file's track name and copyright as their bytes.
        with open(os.path.join(scores, "japanese.fms"), "wb") as f:
            f.write(JAPANESE_SCORE.replace("\n", "\r\n").encode("cp932"))
        paths = [ARGS.demo] + sorted(os.path.join(scores, n) for n in os.listdir(scores))
        compared = 0
        with tempfile.TemporaryDirectory() as work:
            for path in paths:
                with self.subTest(score=os.path.basename(path)):
                    expected, report = console_midi(ARGS.tarvk32c, path, work)
                    self.open_file(path)
                    if expected is None:
                        continue  # the page refuses it too: its message is checked above
                    self.assertEqual(self.driver.find_element(By.TAG_NAME, "body")
                                     .get_attribute("data-clean"), "true", self.status())
                    name = os.path.splitext(os.path.basename(path))[0] + ".mid"
                    self.assertEqual(self.download("save-midi"), (name, expected))
                    compared += 1
        self.assertGreaterEqual(compared, RANDOM_SCORES * 2 // 3)

        # Typed rather than opened: the page's own code page 932 encodes the characters.
        before = self.checks()
        self.driver.execute_script("window.scoreEditor.setText(arguments[0])", JAPANESE_SCORE)
        self.wait_checks(before + 1)
        self.wait_quiet()
        with tempfile.TemporaryDirectory() as work:
            expected, _ = console_midi(ARGS.tarvk32c, os.path.join(scores, "japanese.fms"), work)
        self.assertEqual(self.download("save-midi")[1].hex(), expected.hex())

    def test_opened_midi_becomes_tarvk32_import_s_score(self):
        self.load()
        with tempfile.TemporaryDirectory() as work:
            midi, _ = console_midi(ARGS.tarvk32c, ARGS.demo, work)
            source = os.path.join(work, "demo-song.mid")
            with open(source, "wb") as f:
                f.write(midi)
            expected = subprocess.run([ARGS.import_program, source], capture_output=True,
                                      check=True).stdout
            self.open_file(source)
            self.assertEqual(self.download("save-score"), ("demo-song.fms", expected))

            not_midi = os.path.join(work, "broken.mid")
            with open(not_midi, "wb") as f:
                f.write(b"MThd this is no MIDI file")
            text_before = self.editor_text()
            self.driver.find_element(By.ID, "file").send_keys(not_midi)
            WebDriverWait(self.driver, WAIT_S).until(
                lambda d: self.notice().startswith("This file could not be imported"))
            self.assertEqual(self.editor_text(), text_before)

    def play_offline(self, score, from_caret=False, caret=None, length_s=6):
        """The page's Play (or Play from the cursor with the caret at (line, column)) rendered into
        an OfflineAudioContext: the file time it started at and the left channel's peak each ms
        from the moment the player holds that time sounds (its play line's clock)."""
        self.driver.execute_script("window.scoreEditor.setText(arguments[0])", score)
        if caret:
            self.driver.execute_script("window.scoreEditor.select(...arguments)", caret[0],
                                       caret[1], caret[1])
        start_ms, envelope = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            (async () => {
              const rate = 44100, perMs = rate / 1000;
              const played = await window.tarvikPlayOffline(arguments[0], arguments[1], rate);
              const left = played.left, envelope = [];
              for (let at = played.startedAt * rate; at + perMs <= left.length; at += perMs) {
                let peak = 0;
                for (let i = Math.floor(at); i < Math.floor(at + perMs); i++)
                  peak = Math.max(peak, Math.abs(left[i]));
                envelope.push(peak);
              }
              done([played.startMs, envelope]);
            })().catch((e) => done([null, String(e)]));""", from_caret, length_s)
        self.assertIsNotNone(start_ms, envelope)
        return start_ms, envelope

    @staticmethod
    def onsets(envelope):
        """The ms at which the envelope crosses a tenth of its loudest peak after 100 ms below."""
        threshold, quiet_ms = max(envelope) / 10, 100
        found, last_loud = [], -quiet_ms
        for ms, peak in enumerate(envelope):
            if peak >= threshold:
                if ms - last_loud >= quiet_ms:
                    found.append(ms)
                last_loud = ms
        return found

    def midi_onsets(self, score):
        """The note-on times in ms of tarvk32c's file for the score, per channel (chN on MIDI
        channel N)."""
        import io
        import mido
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "played.fms")
            with open(path, "wb") as f:
                f.write(score.encode("cp932"))
            midi, report = console_midi(ARGS.tarvk32c, path, work)
        self.assertIsNotNone(midi, report)
        onsets, now = {}, 0.0
        for message in mido.MidiFile(file=io.BytesIO(midi)):
            now += message.time
            if message.type == "note_on" and message.velocity > 0:
                onsets.setdefault(message.channel, []).append(round(now * 1000))
        return onsets

    def test_playback_sounds_each_note_at_its_time(self):
        self.load()
        # Short notes far apart, so that each onset stands alone in the audio.
        score = 'ch1 { "t120 @0 v13 o4 c16 r2 e16 r2 g16 r4. >c16 r2 <a16 r1" }'
        expected = self.midi_onsets(score)[1]
        self.assertEqual(len(expected), 5)
        start_ms, envelope = self.play_offline(score)
        self.assertEqual(start_ms, 0)
        self.assertGreater(max(envelope), 0.05, "the rendering is silent")
        heard = self.onsets(envelope)
        self.assertEqual(len(heard), len(expected), (heard, expected))
        for at, written in zip(heard, expected):
            self.assertLessEqual(abs(at - written), 10, (heard, expected))

    def test_play_from_the_cursor_starts_where_the_desktop_editor_does(self):
        self.load()
        # Channel 2 opened twice; its second block spans lines 2 to 5, with a rest before its
        # notes, a Japanese comment before them, and nothing behind the caret at the end of line
        # 4 but channel 3's block.
        score = ('ch1 { "t120 @0 v13 o4 l4 c r r r r r r r r" }\n'
                 'ch2 { "@0 v13 o4 c4 r1" }\n'
                 'ch2 {\n'
                 '/*歌*/"l4 r2 e r r"\n'
                 '  "g"\n'
                 '}\n'
                 'ch3 { "@0 v13 o5 l1 r c" }')
        ch2 = self.midi_onsets(score)[2]  # c, e, g
        self.assertEqual(len(ch2), 3)
        rest_ms = ch2[1] - 1000  # the r2 before the e
        cases = [
            # caret, where the play starts, the first note heard from there
            # (columns count 歌 as one, the compiler its two bytes)
            ((3, 9), rest_ms, ch2[1]),  # on the r2: the rest, and the e a half note later
            ((3, 11), ch2[1], ch2[1]),  # behind the r2: the e
            ((4, 5), ch2[2], ch2[2]),  # behind the last command of the block: its g
        ]
        for caret, start, note in cases:
            with self.subTest(caret=caret):
                start_ms, envelope = self.play_offline(score, True, caret, 3)
                self.assertLessEqual(abs(start_ms - start), 1, (start_ms, start))
                self.assertLessEqual(abs(self.onsets(envelope)[0] - (note - start_ms)), 10)

    def test_a_click_on_a_note_of_the_roll_selects_its_command(self):
        self.load()
        self.type_score('ch1 { "o4 c4 e8 g4" }\nch2 { "o3 r8 c2" }')
        roll = self.driver.find_element(By.CSS_SELECTOR, "#roll canvas")
        from selenium.webdriver.common.action_chains import ActionChains
        for index, command in ((1, "e8"), (2, "g4"), (3, "c2")):
            with self.subTest(command=command):
                # The note's middle, from the roll's scale and rows.
                x, y = self.driver.execute_script("""
                    const roll = window.pianoRoll, n = roll.notes[arguments[0]];
                    return [(n[1] + n[2]) / 2 * roll.scale, roll.y(n[7]) + 1];""", index)
                ActionChains(self.driver).move_to_element_with_offset(
                    roll, x - roll.size["width"] / 2, y - roll.size["height"] / 2).click().perform()
                selected = self.driver.execute_script(
                    "const s = window.scoreEditor.view.state;"
                    "return s.sliceDoc(s.selection.main.from, s.selection.main.to)")
                self.assertEqual(selected, command)

    def test_a_pasted_megabyte_keeps_the_page_responsive(self):
        self.load()
        megabyte = 1 << 20
        line = 'ch1 { "cdefgab" }\n'
        cases = [
            # the paste, the page's message: more notes than a channel holds, a line longer than
            # the compiler reads (tarvk32c writes an empty file then)
            (line * (megabyte // len(line)), "ch1 is full: 32000 events"),
            ('ch1 { "' + "c" * megabyte + '" }', "work area over!"),
        ]
        for text, message in cases:
            with self.subTest(message=message):
                self.driver.execute_script("window.scoreEditor.setText('')")
                self.wait_quiet()
                before = self.checks()
                # A timer in the page measures the longest stretch its main thread was busy.
                gap_ms = self.driver.execute_async_script("""
                    const [text, before, done] = arguments;
                    let last = performance.now(), longest = 0;
                    const timer = setInterval(() => {
                      const now = performance.now();
                      longest = Math.max(longest, now - last);
                      last = now;
                      if (Number(document.body.dataset.checks) > before) {
                        clearInterval(timer);
                        done(longest);
                      }
                    }, 10);
                    const pasted = new DataTransfer();
                    pasted.setData("text/plain", text);
                    document.querySelector(".cm-content").dispatchEvent(new ClipboardEvent(
                        "paste", {clipboardData: pasted, bubbles: true, cancelable: true}));
                    """, text, before)
                self.assertEqual(len(self.editor_text()), len(text))
                self.assertLess(gap_ms, RESPONSIVE_GAP_MS)
                self.assertEqual(self.status(), message)

    def test_share_link_opens_the_same_text(self):
        self.load()
        score = 'sn("歌")\nch1 { "cdefg" }\n// ～ wave'
        self.driver.execute_script("window.scoreEditor.setText(arguments[0])", score)
        self.driver.find_element(By.ID, "share").click()
        WebDriverWait(self.driver, WAIT_S).until(lambda d: "#score=" in d.current_url)
        link = self.driver.current_url
        self.driver.get("about:blank")
        self.driver.get(link)
        self.wait_checks(1)
        self.assertEqual(self.editor_text(), score)

        cut = link[: len(link) - (len(link) - len(self.url)) // 2]
        self.driver.get("about:blank")
        self.driver.get(cut)
        self.wait_checks(1)
        self.assertTrue(self.notice().startswith("The shared link is broken"), self.notice())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--page", required=True)
    parser.add_argument("--tarvk32c", required=True)
    parser.add_argument("--import", dest="import_program", required=True)
    parser.add_argument("--random-scores", required=True)
    parser.add_argument("--demo", required=True)
    ARGS, rest = parser.parse_known_args()
    for name in ("page", "tarvk32c", "import_program", "random_scores", "demo"):
        setattr(ARGS, name, os.path.abspath(getattr(ARGS, name)))
    if not os.path.exists(os.path.join(ARGS.page, "index.html")):
        print("web_page_in_chromium: no page in %s; build it with scripts/build-web" % ARGS.page,
              file=sys.stderr)
        return 1
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
