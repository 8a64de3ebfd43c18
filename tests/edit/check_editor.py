#!/usr/bin/env python3
"""`krscript edit` as a translator uses it, and as a hostile page would.

A generated game of three scripts (names, Latin dialogue in one box, Japanese
lines in another, strings that are markup) with a profile and fonts, two
scripts translated in PO files and one in CSV, and a long script, served by
`krscript edit --port 0 --no-open`. Then:

- raw HTTP, for every refusal: no token (403, nothing else), a foreign Host,
  a write from another origin or none, a body over 1 MB (413), a request
  that is not HTTP (400), paths that name files (404), a slow client and a
  half-open one that hold up nobody; the server listens on the loopback
  address only, its cookie is HttpOnly and SameSite=Strict, and every answer
  carries a Content-Security-Policy with no inline script and no other
  origin;
- headless Chromium through Selenium (skipped without them): the index and
  its search; typing redraws the box with the lines inject makes and lint's
  problems; Ctrl+Enter saves exactly what was typed (read back with polib
  and Python's csv), clears fuzzy, changes no other byte of the file, and
  moves to the next string that needs work; Alt+Down moves; a suggestion
  from the memory fills the field; a file changed by another program is
  saved into when that entry did not change, and refused with both texts
  kept when it did; what was typed while the server was gone is saved when
  it is back; markup in strings runs nothing; a long script's page holds a
  window of its strings, not all.

A screenshot of a script's page is kept as SCREENSHOT.

    check_editor.py --krscript PATH --work DIR [--screenshot PNG]
                    [--latin FONT --japanese FONT] [--http-only] [--wine WINE]

--http-only leaves out the browser (for the Windows build under Wine, with
--wine naming wine: krscript is then a .exe). Exits with 77 (skipped) when
what a part needs is missing.
"""

import argparse
import csv
import http.client
import io
import json
import os
import random
import re
import shutil
import socket
import subprocess
import sys
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "html"))
import scripts  # noqa: E402

SKIPPED = 77
SYSTEM_PYTHON = "/usr/bin/python3"
LATIN_BOX = {"size": 24, "width": 420, "lines": 3}
JAPANESE_BOX = {"size": 28, "width": 336, "lines": 2}
# Markup a string or a translation may hold, which must show as text.
HOSTILE = "<img src=x onerror=\"window.attacked=1\"></script><script>window.attacked=2</script>"
LINE_RE = re.compile(r"krscript: editing (\d+) scripts at (http://127\.0\.0\.1:(\d+)/\?token=(\w+))")


def fail(message):
    sys.exit(f"FAILED: {message}")


def run(command, status=0, env=None):
    result = subprocess.run(command, capture_output=True, timeout=600, env=env)
    if status is not None and result.returncode != status:
        fail(f"{' '.join(command)} exited with {result.returncode}, not {status}:\n"
             f"{result.stderr.decode(errors='replace')}")
    return result


def make_game(rng, work, latin, japanese):
    """a.kr and b.kr (PO) and c.kr (CSV), names shared among them; long.kr,
    of 600,000 instructions; and the profile, with boxes when fonts are
    given."""
    game = os.path.join(work, "game")
    os.makedirs(game)
    profile = 'encoding = "utf-8"\nglossary = "terms.csv"\n'
    with open(os.path.join(game, "terms.csv"), "w", encoding="utf-8") as f:
        f.write("source,target,note\nstation,estación,a place\n")
    if latin:
        for font, name in ((latin, "latin"), (japanese, "japanese")):
            shutil.copy(font, os.path.join(game, name + os.path.splitext(font)[1]))
        profile += (f'[box]\nfont = "latin{os.path.splitext(latin)[1]}"\n'
                    f'size = {LATIN_BOX["size"]}\nwidth = {LATIN_BOX["width"]}\n'
                    f'lines = {LATIN_BOX["lines"]}\n'
                    '[box.placeholders]\n"{name}" = "Alexander"\n'
                    f'[box.opcode.1C]\nfont = "japanese{os.path.splitext(japanese)[1]}"\n'
                    f'size = {JAPANESE_BOX["size"]}\nwidth = {JAPANESE_BOX["width"]}\n'
                    f'lines = {JAPANESE_BOX["lines"]}\n')
    with open(os.path.join(game, "krscript.toml"), "w", encoding="utf-8") as f:
        f.write(profile)
    words = ("the", "station", "tonight", "wait", "for", "me", "château", "{name}", "quiet")
    for name in ("a.kr", "b.kr", "c.kr"):
        data = bytearray()
        for key, who in enumerate(("Alice", "Bob")):
            data += scripts.name_definition(key, who.encode())
        for i in range(12):
            data += scripts.name_reference(rng.randrange(2))
            if i % 3 == 2:
                data += scripts.dialogue("今日はとても良い天気ですね。".encode(), 0x1C)
            else:
                data += scripts.dialogue(" ".join(rng.choice(words) for _ in range(6)).encode())
        data += scripts.dialogue("Meet me at the station.".encode())
        data += scripts.dialogue(HOSTILE.encode())
        with open(os.path.join(game, name), "wb") as f:
            f.write(data + b"\x00")
    with open(os.path.join(game, "long.kr"), "wb") as f:
        # Each string after an instruction without operand (0x03).
        f.write(b"".join(b"\x03" + scripts.dialogue(b"line %d" % i) for i in range(300000)) +
                b"\x00")
    return game


def prepare_translations(krscript, game, work):
    """extract's files (by `krscript`, a command), a.kr and b.kr in PO and
    c.kr in CSV, a.kr's first name translated and one line fuzzy with a
    previous source."""
    po = os.path.join(work, "translations")
    run(krscript + ["extract", game, "-o", po, "--exclude", "c.kr"])
    run(krscript + ["extract", os.path.join(game, "c.kr"), "-o", os.path.join(po, "c.kr.csv"),
                    "--format", "csv"])
    path = os.path.join(po, "a.kr.po")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text = text.replace('msgid "Alice"\nmsgstr ""', 'msgid "Alice"\nmsgstr "Alicia"', 1)
    text = text.replace('msgid "Meet me at the station."\nmsgstr ""',
                        'msgid "Meet me at the station."\nmsgstr "Te veo en la estación."', 1)
    # A fuzzy entry, as update leaves an edited line.
    text = re.sub(r'(msgctxt "[0-9A-F]{8}"\nmsgid "今日は)',
                  '#, fuzzy\n#| msgid "昨日はとても良い天気でしたね。"\n\\1', text, count=1)
    text = text.replace('とても良い天気ですね。"\nmsgstr ""',
                        'とても良い天気ですね。"\nmsgstr "Qué buen día."', 1)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return po


class Server:
    """krscript edit, run until stopped."""

    def __init__(self, command, port=0):
        self.command = command + ["--port", str(port), "--no-open"]
        self.process = subprocess.Popen(self.command, stderr=subprocess.PIPE, text=True,
                                        encoding="utf-8")
        deadline = time.time() + 120
        self.said = ""
        while time.time() < deadline:
            line = self.process.stderr.readline()
            if not line:
                fail(f"krscript edit ended before serving:\n{self.said}")
            self.said += line
            match = LINE_RE.search(line)
            if match:
                self.scripts = int(match.group(1))
                self.address = match.group(2)
                self.port = int(match.group(3))
                self.token = match.group(4)
                return
        fail("krscript edit did not say where it serves")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)


def request(port, method, path, body=None, headers=None, host=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    sent = {"Host": host or f"127.0.0.1:{port}"}
    sent.update(headers or {})
    connection.request(method, path, body=body, headers=sent)
    response = connection.getresponse()
    answer = (response.status, dict(response.getheaders()), response.read())
    connection.close()
    return answer


def raw(port, data, wait_close=True):
    """What the server answers to bytes that may not be HTTP."""
    with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
        s.sendall(data)
        received = b""
        while wait_close:
            chunk = s.recv(65536)
            if not chunk:
                break
            received += chunk
        return received


def check_http(server, po):
    port, token = server.port, server.token
    cookie = {"Cookie": f"krscript-edit={token}"}
    own = {**cookie, "Origin": f"http://127.0.0.1:{port}", "Content-Type": "application/json"}
    if len(token) < 32:
        fail(f"the token {token} has fewer than 128 bits")
    # The first page sets the cookie, and every answer carries the policy.
    status, headers, body = request(port, "GET", f"/?token={token}")
    if status != 303 or "HttpOnly" not in headers.get("Set-Cookie", "") or \
            "SameSite=Strict" not in headers.get("Set-Cookie", ""):
        fail(f"the first page answered {status} {headers}")
    status, headers, body = request(port, "GET", "/", headers=cookie)
    policy = headers.get("Content-Security-Policy", "")
    if status != 200 or "script-src 'self'" not in policy or "unsafe-inline" in policy or \
            "default-src 'none'" not in policy or b"<script>" in body:
        fail(f"the index answered {status} with the policy {policy!r}")
    # The boxes' fonts are served by the names the style sheet gives them.
    status, _, body = request(port, "GET", "/editor.css", headers=cookie)
    for font in re.findall(r'url\("([^"]+)"\)', body.decode()):
        status, headers, data = request(port, "GET", "/" + font, headers=cookie)
        if status != 200 or not headers.get("Content-Type", "").startswith("font/") or \
                len(data) < 1000:
            fail(f"the font {font} of the style sheet answered {status}")
    # Without the token, or with another, nothing but 403.
    for headers_sent in ({}, {"Cookie": "krscript-edit=" + "0" * len(token)}):
        for path in ("/", "/api/scripts", "/a.kr.html", "/editor.js", "/?token=wrong"):
            status, _, body = request(port, "GET", path, headers=headers_sent)
            if status != 403 or body:
                fail(f"GET {path} without the token answered {status} {body[:80]!r}")
    # A page whose own name resolves here (DNS rebinding) names its host.
    for host in ("evil.example:%d" % port, "127.0.0.1:1", "localhost", "127.0.0.1"):
        status, _, _ = request(port, "GET", "/api/scripts", headers=cookie, host=host)
        if status != 403:
            fail(f"a request for the host {host} answered {status}")
    status, _, _ = request(port, "GET", "/api/scripts", headers=cookie, host=f"localhost:{port}")
    if status != 200:
        fail(f"a request for localhost:{port} answered {status}")
    # Writes from another origin, or from none.
    with open(os.path.join(po, "a.kr.po"), "rb") as f:
        before = f.read()
    save = json.dumps({"script": "a.kr", "offset": "00000005", "target": "x", "comment": "",
                       "base": {"target": "", "comment": "", "fuzzy": False}})
    for origin in ({"Origin": "http://evil.example"}, {"Origin": "null"}, {},
                   {"Origin": f"http://127.0.0.1:{port + 1}"}):
        status, _, _ = request(port, "POST", "/api/save", body=save,
                               headers={**cookie, **origin})
        if status != 403:
            fail(f"a save with the origin {origin} answered {status}")
    with open(os.path.join(po, "a.kr.po"), "rb") as f:
        if f.read() != before:
            fail("a refused save changed the file")
    # Paths that name files on disk are no page.
    for path in ("/../a.kr.po", "/a.kr.po", "/%2e%2e/%2e%2e/etc/passwd.html", "/etc/passwd",
                 "/krscript.toml", "/a.kr", "/translations/a.kr.po.html", "/krscript-font-9.ttf",
                 "/a.kr%00.html", "/%ff.html"):
        status, _, body = request(port, "GET", path, headers=cookie)
        if status != 404:
            fail(f"GET {path} answered {status}")
    # A body over 1 MB, a request that is not HTTP, and the server goes on.
    # Refused as soon as its length is known, before it is read.
    for length in (b"Content-Length: 1048577\r\n", b"Transfer-Encoding: chunked\r\n"):
        head = (b"POST /api/check HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nCookie: krscript-edit=%s\r\n"
                b"Origin: http://127.0.0.1:%d\r\n%s\r\n" % (port, token.encode(), port, length))
        if b"chunked" in length:
            head += b"100001\r\n" + b"x" * 0x100001 + b"\r\n0\r\n\r\n"
        try:
            answer = raw(port, head)
        except (BrokenPipeError, ConnectionResetError):
            answer = b""
        if not answer.startswith(b"HTTP/1.1 413"):
            fail(f"a body over 1 MB ({length!r}) was answered {answer[:60]!r}")
    for garbage in (b"GARBAGE\r\n\r\n", b"GET / HTTP/1.1\r\nHost: \x00\xff\r\n\r\n",
                    b"POST /api/save HTTP/1.1\r\nHost: x\r\n"
                    b"Content-Length: -5\r\n\r\n"):
        answer = raw(port, garbage)
        if not answer.startswith(b"HTTP/1.1 400"):
            fail(f"{garbage!r} was answered {answer[:60]!r}")
    status, _, body = request(port, "POST", "/api/check", body=b"{not json", headers=own)
    if status != 400:
        fail(f"a body that is not JSON answered {status}")
    # Clients that are slow, or gone half way, hold up nobody.
    slow = socket.create_connection(("127.0.0.1", port))
    slow.sendall(b"GET /api/scripts HTTP/1.1\r\nHost: 127.0.0.1")
    half = socket.create_connection(("127.0.0.1", port))
    half.sendall(b"POST /api/save HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Length: 100\r\n\r\n{"
                 % port)
    half.shutdown(socket.SHUT_WR)
    started = time.time()
    status, _, _ = request(port, "GET", "/api/scripts", headers=cookie)
    if status != 200 or time.time() - started > 5:
        fail(f"with a slow client connected, a request answered {status} after "
             f"{time.time() - started:.1f} s")
    slow.close()
    half.close()
    # Only the loopback address is listened on.
    listening = []
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        if os.path.exists(table):
            with open(table) as f:
                for row in f.read().splitlines()[1:]:
                    local, state = row.split()[1], row.split()[3]
                    if state == "0A" and int(local.split(":")[1], 16) == port:
                        listening.append(local.split(":")[0])
    if listening and listening != ["0100007F"]:
        fail(f"the server listens on {listening}, not 127.0.0.1 alone")


def save_over_http(server, po):
    """A save as a page makes it: the entry and nothing else changes."""
    port = server.port
    headers = {"Cookie": f"krscript-edit={server.token}", "Origin": f"http://127.0.0.1:{port}",
               "Content-Type": "application/json"}
    status, _, body = request(port, "GET", "/api/lines?script=b.kr", headers=headers)
    lines = json.loads(body)["lines"]
    line = next(line for line in lines if not line["target"] and line["source"] != "Alice")
    typed = "Línea \"nueva\"\n" + HOSTILE
    status, _, body = request(port, "POST", "/api/save", headers=headers, body=json.dumps(
        {"script": "b.kr", "offset": line["offset"], "target": typed, "comment": "",
         "base": {"target": "", "comment": "", "fuzzy": False}}))
    if status != 200:
        fail(f"a save answered {status}: {body[:200]!r}")
    entries = read_po(os.path.join(po, "b.kr.po"))
    if entries[line["offset"]].msgstr != typed:
        fail(f"the saved entry holds {entries[line['offset']].msgstr!r}, not {typed!r}")
    # lint's checks across the run, in lint's words: a name translated
    # otherwise than a.kr does, a line without the glossary's term.
    lines = {line["offset"]: line for line in lines}
    alice = next(offset for offset, line in lines.items() if line["source"] == "Alice")
    station = next(offset for offset, line in lines.items()
                   if "station" in line["source"].split() and not line["target"])
    shown = {}
    for offset, text in ((alice, "Alisha"), (station, "the stop")):
        status, _, body = request(port, "POST", "/api/save", headers=headers, body=json.dumps(
            {"script": "b.kr", "offset": offset, "target": text, "comment": "",
             "base": {"target": "", "comment": "", "fuzzy": False}}))
        if status != 200:
            fail(f"a save answered {status}: {body[:200]!r}")
        shown[offset] = {(p["check"], p["message"]) for p in json.loads(body)["line"]["problems"]}
    command = server.command[:server.command.index("edit")]
    game = server.command[server.command.index("edit") + 1]
    lint = json.loads(run(command + ["lint", game, po, "--format", "json"], status=None).stdout)
    for offset, check in ((alice, "inconsistent"), (station, "glossary")):
        said = {(p["check"], p["message"]) for p in lint["problems"]
                if p["context"] == offset and p["file"].endswith("b.kr.po")}
        if not any(c == check for c, _ in said) or shown[offset] != said:
            fail(f"the editor shows {shown[offset]} for {offset}, lint says {said}")
    # What another program saves since shows when the page asks again.
    import polib
    catalogue = polib.pofile(os.path.join(po, "b.kr.po"))
    other = next(entry for entry in catalogue if entry.msgctxt != line["offset"] and
                 not entry.msgstr)
    other.msgstr = "from another editor"
    catalogue.save()
    status, _, body = request(port, "GET", "/api/lines?script=b.kr", headers=headers)
    shown = {line["offset"]: line["target"] for line in json.loads(body)["lines"]}
    if shown.get(other.msgctxt) != "from another editor" or shown[line["offset"]] != typed:
        fail(f"after another program saved the file, the page shows {shown}")


def read_po(path):
    import polib
    return {entry.msgctxt: entry for entry in polib.pofile(path)}


def blocks(path):
    """A PO file's entries as written, by their msgctxt."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    found = {}
    for block in text.split("\n\n"):
        match = re.search(r'^msgctxt "([0-9A-F]{8})"', block, re.M)
        found[match.group(1) if match else block[:40]] = block
    return found


def check_saved(path, offset, typed, before_blocks):
    """The entry at `offset` holds `typed` and is not fuzzy; every other
    entry is as it was, byte for byte."""
    entries = read_po(path)
    entry = entries[offset]
    if entry.msgstr != typed or "fuzzy" in entry.flags or entry.previous_msgid:
        fail(f"{offset} holds {entry.msgstr!r} {entry.flags} {entry.previous_msgid!r}, "
             f"not {typed!r} reviewed")
    after = blocks(path)
    changed = [key for key in set(before_blocks) | set(after)
               if before_blocks.get(key) != after.get(key)]
    if changed != [offset]:
        fail(f"saving {offset} changed the entries {changed}")
    result = subprocess.run(["msgfmt", "--check", "-o", os.devnull, path], capture_output=True)
    if shutil.which("msgfmt") and result.returncode != 0:
        fail(f"msgfmt refuses the saved file: {result.stderr.decode()}")


class Browser:
    def __init__(self, chromium, chromedriver):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                         "--window-size=1100,900", "--disable-background-networking"):
            options.add_argument(argument)
        self.driver = webdriver.Chrome(service=Service(chromedriver), options=options)

    def wait(self, condition, what, seconds=15):
        deadline = time.time() + seconds
        while time.time() < deadline:
            value = self.driver.execute_script(condition)
            if value:
                return value
            time.sleep(0.1)
        fail(f"the page never showed {what}")

    def entry(self, offset):
        return self.driver.find_element("id", offset)

    def type_into(self, offset, text, clear=True):
        field = self.entry(offset).find_element("css selector", "textarea.translation")
        field.click()
        if clear:
            self.driver.execute_script("arguments[0].value = ''", field)
        # send_keys types a line feed as Enter, which the field keeps.
        field.send_keys(text)
        return field

    def keys(self, field, *keys):
        from selenium.webdriver.common.action_chains import ActionChains
        chain = ActionChains(self.driver)
        modifiers = keys[:-1]
        for key in modifiers:
            chain.key_down(key)
        chain.send_keys_to_element(field, keys[-1])
        for key in reversed(modifiers):
            chain.key_up(key)
        chain.perform()


BOX_LINES = """
const box = document.getElementById(arguments[0]).querySelector('.box');
if (!box || box.hidden) return null;
return Array.from(box.querySelectorAll('.line')).map(line => {
  const copy = line.cloneNode(true);
  copy.querySelectorAll('.ph').forEach(ph => { ph.textContent = ph.title; });
  return [copy.textContent, line.classList.contains('over')];
});
"""


def strings_of(krscript, script):
    code = json.loads(run([krscript, "dump", script]).stdout)["code"]
    return [(entry["at"], entry["text"]) for entry in code if "text" in entry]


def check_browser(args, game, po, server, command):
    from selenium.webdriver.common.keys import Keys
    browser = Browser(args.chromium, args.chromedriver)
    driver = browser.driver
    try:
        driver.get(server.address)
        browser.wait("return document.querySelectorAll('table.scripts tr').length > 4",
                     "the scripts")
        if driver.current_url.find("token") >= 0:
            fail(f"the token stays in the address bar: {driver.current_url}")
        rows = driver.execute_script(
            "return Array.from(document.querySelectorAll('table.scripts tr')).slice(1)"
            ".map(r => Array.from(r.cells).map(c => c.textContent))")
        by_name = {row[0]: row for row in rows}
        if by_name["a.kr"][2] != "2" or by_name["a.kr"][3] != "1":
            fail(f"the index counts a.kr as {by_name['a.kr']}")
        search = driver.find_element("css selector", "input.search")
        search.send_keys("estación")
        browser.wait("return document.querySelectorAll('.found .hit').length === 1",
                     "the one string whose translation holds the word")

        # A script's page: typing redraws the box and the problems.
        driver.get(f"http://127.0.0.1:{server.port}/a.kr.html")
        browser.wait("return document.querySelectorAll('.entry').length > 10", "the strings")
        if driver.execute_script("return window.attacked"):
            fail("markup in a string ran")
        hostile = driver.execute_script(
            "return Array.from(document.querySelectorAll('.source'))"
            ".some(s => s.textContent === arguments[0])", HOSTILE)
        if not hostile:
            fail("the string of markup is not shown as its text")
        lines = json.loads(request(server.port, "GET", "/api/lines?script=a.kr",
                                   headers={"Cookie": f"krscript-edit={server.token}"})[2])
        latin = [line for line in lines["lines"]
                 if not line["target"] and "{name}" in line["source"]]
        target = latin[0]["offset"]
        with_box = args.latin is not None
        field = browser.type_into(target, "no marker here")
        browser.wait(f"return document.getElementById('{target}').querySelector('.problems')"
                     ".textContent.includes('markers')", "lint's markers warning")
        # Its placeholders as the source has them, and lines too long for
        # the box.
        long_text = latin[0]["source"] + " waited at the quiet station tonight" * 8 + "\nend"
        field = browser.type_into(target, long_text)
        browser.wait(f"return !document.getElementById('{target}').querySelector('.problems')"
                     ".textContent.includes('markers')", "the warning gone")
        if with_box:
            browser.wait(f"return document.getElementById('{target}')"
                         ".querySelectorAll('.box .line.over').length > 0", "a line over the box")
        before = blocks(os.path.join(po, "a.kr.po"))
        drawn = driver.execute_script(BOX_LINES, target)
        browser.keys(field, Keys.CONTROL, Keys.ENTER)
        browser.wait(f"return document.getElementById('{target}').classList.contains('saved')",
                     "the entry saved")
        check_saved(os.path.join(po, "a.kr.po"), target, long_text, before)
        # The box showed the lines inject puts in.
        if with_box:
            injected = os.path.join(args.work, "injected")
            run(command[:1] + ["inject", game, po, "-o", injected, "--exclude", "long.kr",
                               "--keep-going"], status=None)
            # The same string, where the translations before it moved it.
            place = [at for at, _ in strings_of(command[0], os.path.join(game, "a.kr"))] \
                .index(target)
            text = strings_of(command[0], os.path.join(injected, "a.kr"))[place][1]
            if [line for line, _ in drawn] != text.split("\n"):
                fail(f"the box drew {drawn}, inject put in {text!r}")
        # On to the next string that needs work.
        active = driver.execute_script("return document.activeElement.closest('.entry').id")
        needing = [line["offset"] for line in lines["lines"]
                   if line["needsWork"] and int(line["offset"], 16) > int(target, 16)]
        if active != needing[0]:
            fail(f"Ctrl+Enter went on to {active}, not {needing[0]}")
        field = driver.switch_to.active_element
        browser.keys(field, Keys.ALT, Keys.ARROW_DOWN)
        following = driver.execute_script(
            "return document.getElementById(arguments[0]).nextElementSibling.id", active)
        if driver.execute_script("return document.activeElement.closest('.entry').id") != \
                following:
            fail("Alt+Down did not move to the next string")

        # The fuzzy entry: what changed in its source, cleared when saved.
        fuzzy = driver.execute_script(
            "return document.querySelector('.entry.fuzzy').id")
        if not driver.execute_script(
                "return document.getElementById(arguments[0]).querySelector('.changes del, "
                ".changes ins') !== null", fuzzy):
            fail("the fuzzy entry does not mark what changed in its source")
        before = blocks(os.path.join(po, "a.kr.po"))
        field = browser.type_into(fuzzy, "¡Qué buen día!")
        browser.keys(field, Keys.CONTROL, Keys.ENTER)
        browser.wait(f"return document.getElementById('{fuzzy}').classList.contains('saved')",
                     "the fuzzy entry saved")
        check_saved(os.path.join(po, "a.kr.po"), fuzzy, "¡Qué buen día!", before)

        # A suggestion: b.kr's "Alice" is a.kr's "Alicia".
        driver.get(f"http://127.0.0.1:{server.port}/b.kr.html")
        browser.wait("return document.querySelectorAll('.entry').length > 10", "b.kr's strings")
        alice = driver.execute_script(
            "return Array.from(document.querySelectorAll('.entry'))"
            ".find(e => e.querySelector('.source').textContent === 'Alice').id")
        driver.find_element("id", alice).find_element("css selector", "textarea.translation") \
            .click()
        browser.wait(f"return document.getElementById('{alice}')"
                     ".querySelectorAll('.suggestion').length > 0", "a suggestion")
        driver.find_element("id", alice).find_element("css selector", ".suggestion").click()
        value = driver.execute_script(
            "return document.getElementById(arguments[0]).querySelector('textarea').value", alice)
        if value != "Alicia":
            fail(f"the suggestion put {value!r} in the field")

        # Another program saves the file: an entry it did not touch is
        # saved into it; one it changed is refused, both texts kept.
        path = os.path.join(po, "b.kr.po")
        with open(path, encoding="utf-8") as f:
            text = f.read()
        text = text.replace('# krscript', '# edited in another editor\n# krscript', 1) \
            if '# krscript' in text else "# edited in another editor\n" + text
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        field = driver.find_element("id", alice).find_element("css selector", "textarea")
        browser.keys(field, Keys.CONTROL, Keys.ENTER)
        browser.wait(f"return document.getElementById('{alice}').classList.contains('saved')",
                     "a save into a file another program changed")
        with open(path, encoding="utf-8") as f:
            saved = f.read()
        if "# edited in another editor" not in saved or read_po(path)[
                next(k for k, e in read_po(path).items() if e.msgid == "Alice")].msgstr != \
                "Alicia":
            fail("the save lost the other program's change, or its own")
        other = next(line["offset"] for line in json.loads(request(
            server.port, "GET", "/api/lines?script=b.kr",
            headers={"Cookie": f"krscript-edit={server.token}"})[2])["lines"]
            if not line["target"] and line["source"] != "Alice")
        field = browser.type_into(other, "mine")
        import polib
        catalogue = polib.pofile(path)
        for entry in catalogue:
            if entry.msgctxt == other:
                entry.msgstr = "theirs"
        catalogue.save(path)
        with open(path, "rb") as f:
            theirs = f.read()
        browser.keys(field, Keys.CONTROL, Keys.ENTER)
        browser.wait(f"return document.getElementById('{other}').classList.contains('conflict')",
                     "the conflict")
        shown = driver.execute_script(
            "const e = document.getElementById(arguments[0]);"
            "return [e.querySelector('textarea').value, e.querySelector('.theirs').textContent]",
            other)
        with open(path, "rb") as f:
            if f.read() != theirs:
                fail("a refused save changed the file")
        if shown != ["mine", "theirs"]:
            fail(f"the conflict shows {shown}, not both texts")

        # The server goes away while a translation is typed: the page says
        # so, keeps it, and it is saved once an editor serves again.
        server.stop()
        field = browser.type_into(other, "kept while the server was gone")
        browser.keys(field, Keys.CONTROL, Keys.ENTER)
        browser.wait("return !document.getElementById('status').hidden", "that the server is gone")
        again = Server(command, server.port)
        try:
            driver.get(again.address)
            driver.get(f"http://127.0.0.1:{again.port}/b.kr.html#{other}")
            browser.wait(f"return document.getElementById('{other}') && document"
                         f".getElementById('{other}').classList.contains('conflict')",
                         "the text kept, saved against the file's own")
            # The file had "theirs" when the text was typed over it: it is
            # not saved over, and nothing typed is lost.
            value = driver.execute_script(
                "return document.getElementById(arguments[0]).querySelector('textarea').value",
                other)
            if value != "kept while the server was gone":
                fail(f"the text typed while the server was gone came back as {value!r}")
            driver.find_element("id", other).find_element("css selector", ".keep-mine").click()
            browser.wait(f"return document.getElementById('{other}').classList"
                         ".contains('saved')", "the kept text saved")
            if read_po(path)[other].msgstr != "kept while the server was gone":
                fail("the text typed while the server was gone was not saved")

            # CSV: saved into its row, every other row as it was.
            csv_path = os.path.join(po, "c.kr.csv")
            with open(csv_path, "rb") as f:
                rows_before = f.read().split(b"\r\n")
            driver.get(f"http://127.0.0.1:{again.port}/c.kr.html")
            browser.wait("return document.querySelectorAll('.entry').length > 10",
                         "c.kr's strings")
            offset = driver.execute_script(
                "return document.querySelectorAll('.entry')[3].id")
            field = browser.type_into(offset, "una, \"línea\"\ncon salto")
            browser.keys(field, Keys.CONTROL, Keys.ENTER)
            browser.wait(f"return document.getElementById('{offset}').classList"
                         ".contains('saved')", "the CSV entry saved")
            with open(csv_path, "rb") as f:
                data = f.read()
            rows = list(csv.DictReader(io.StringIO(data.decode("utf-8-sig"), newline="")))
            row = next(row for row in rows if row["location"].endswith(offset))
            if row["target"] != "una, \"línea\"\ncon salto":
                fail(f"the CSV row holds {row['target']!r}")
            changed = [line for line in data.split(b"\r\n") if line not in rows_before]
            # The row alone (the line feed typed stays one inside its cell).
            if len(changed) != 1 or len(data.split(b"\r\n")) != len(rows_before):
                fail(f"saving a CSV row changed the lines {changed}")

            # A long script's page holds a window of its strings.
            driver.get(f"http://127.0.0.1:{again.port}/long.kr.html")
            browser.wait("return document.querySelectorAll('.entry').length > 0", "long.kr")
            count = driver.execute_script("return document.querySelectorAll('.entry').length")
            if count > 200:
                fail(f"the page of a script of 300,000 strings holds {count} of them")
            driver.execute_script("window.scrollTo(0, document.body.scrollHeight)")
            browser.wait(f"return document.querySelectorAll('.entry').length > {count}",
                         "more strings on scrolling")

            if args.screenshot:
                driver.get(f"http://127.0.0.1:{again.port}/a.kr.html")
                browser.wait("return document.querySelectorAll('.entry').length > 10",
                             "a.kr's strings")
                driver.execute_async_script(
                    "const done = arguments[arguments.length - 1]; document.fonts.ready"
                    ".then(done);")
                driver.save_screenshot(args.screenshot)
        finally:
            again.stop()
    finally:
        browser.driver.quit()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--krscript", required=True)
    parser.add_argument("--work", required=True, help="a folder to write in, emptied first")
    parser.add_argument("--screenshot")
    parser.add_argument("--latin")
    parser.add_argument("--japanese")
    parser.add_argument("--http-only", action="store_true")
    parser.add_argument("--wine", help="runs krscript under wine (a Windows build)")
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    args = parser.parse_args()
    try:
        import polib  # noqa: F401
        if not args.http_only:
            import selenium  # noqa: F401
    except ImportError:
        if os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON) and \
                os.access(SYSTEM_PYTHON, os.X_OK):
            return subprocess.run([SYSTEM_PYTHON, *sys.argv]).returncode
        print("skipped: no polib or Selenium for Python (Debian: python3-polib, "
              "python3-selenium)")
        return SKIPPED
    if not args.http_only:
        for path in (args.chromium, args.chromedriver):
            if not os.access(path, os.X_OK):
                print(f"skipped: nothing to run at {path} (Debian: chromium, chromium-driver)")
                return SKIPPED
    if args.latin and not (os.path.isfile(args.latin) and os.path.isfile(args.japanese or "")):
        args.latin = args.japanese = None
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    rng = random.Random(30)
    game = make_game(rng, args.work, args.latin, args.japanese)
    command = [args.wine, args.krscript] if args.wine else [args.krscript]
    po = prepare_translations(command, game, args.work)
    command = command + ["edit", game, po]
    server = Server(command)
    try:
        if server.scripts != 4:
            fail(f"krscript edit serves {server.scripts} scripts, not 4")
        check_http(server, po)
        save_over_http(server, po)
    finally:
        server.stop()
    if not args.http_only:
        server = Server(command)
        check_browser(args, game, po, server, command)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
