#!/usr/bin/env python3
"""The relay's web view in a real headless Chromium, against a real korvo-relay and a real
korvo-connector on loopback: pairing by the printed code, the same texts as the connector's
own rows, a second machine, hostile names, unpairing, the offline copy, and a row's sparkline
and pace line drawn from the relay's usage series.

Exit status 77 (reported by ctest as skipped) only when Chromium, its driver or Selenium is not
installed."""

import argparse
import datetime
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver") or "/usr/lib/chromium/chromedriver"
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None

HOSTILE_NAME = '<img src=x id=injected onerror="document.title=\'pwned\'"><b>Build</b> box'
HOSTILE_ROW = "<script>document.title='pwned'</script>Row"


def iso(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


class Failure(Exception):
    pass


STARTED = time.monotonic()


def step(what):
    """Progress on the test's output, so a slow or stuck stage shows in the ctest log."""
    print("[%5.1fs] %s" % (time.monotonic() - STARTED, what), flush=True)


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, predicate, timeout=20):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.1)


def http(method, url, body=None, headers=None):
    data = json.dumps(body).encode() if body is not None else None
    request = urllib.request.Request(url, data=data, method=method, headers=headers or {})
    if data is not None:
        request.add_header("content-type", "application/json")
    try:
        with urllib.request.urlopen(request, timeout=10) as response:
            return response.status, json.loads(response.read() or b"null")
    except urllib.error.HTTPError as error:
        return error.code, json.loads(error.read() or b"null")


class Relay:
    def __init__(self, binary, db, port=0, extra=()):
        self.process = subprocess.Popen(
            [binary, "--listen", "127.0.0.1:%d" % port, "--db", db, *extra],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        match = re.match(r"listening on (http://127\.0\.0\.1:(\d+))", line)
        if not match:
            raise Failure("korvo-relay did not start: " + line + self.process.stderr.read())
        self.url, self.port = match.group(1), int(match.group(2))

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


class Home:
    """A private home for korvo-connector: a Claude Code status-line file whose windows reset
    two hours and three days from now, and the Codex session fixture."""

    def __init__(self, root, fixtures):
        self.root = root
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "CODEX_HOME", "CLAUDE_CONFIG_DIR",
                                 "COPILOT_OTEL_FILE_EXPORTER_PATH")}
        for name in ("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"):
            os.makedirs(os.path.join(root, name))
            self.env[name] = os.path.join(root, name)
        # No session bus: the token goes to the file keychain of this home.
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(root, "no-bus")
        home = self.env["HOME"]
        shutil.copytree(os.path.join(fixtures, "codex-current-shape", ".codex"),
                        os.path.join(home, ".codex"))
        now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
        os.makedirs(os.path.join(home, ".korvo"))
        with open(os.path.join(home, ".korvo", "claude-statusline.json"), "w") as f:
            json.dump({"observed_at": iso(now), "rate_limits": {
                "five_hour": {"used_percentage": 42.5,
                              "resets_at": iso(now + datetime.timedelta(hours=2, minutes=5))},
                "seven_day": {"used_percentage": 60,
                              "resets_at": iso(now + datetime.timedelta(days=3))}}}, f)

    def command(self, binary, *args):
        return subprocess.Popen([binary, *args], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)


def bundle_rows(text):
    """Title -> {remaining, used, window} from the Providers block of a support bundle."""
    block = text.split("\nProviders:\n", 1)[1].split("\n\nSources:", 1)[0]
    rows = {}
    for entry in re.findall(r"^- (.+)\n((?:  .*\n?)*)", block, re.M):
        fields = dict(re.findall(r"^  ([a-z ]+): (.*)$", entry[1], re.M))
        rows[entry[0]] = {"remaining": fields["primary remaining"],
                          "used": "Used " + fields["primary used"],
                          "window": "Window " + fields["primary window"]}
    return rows


class Page:
    def __init__(self, driver):
        self.driver = driver

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def machines(self):
        """Every machine entry as the user reads it."""
        return self.js("""
            return [...document.querySelectorAll('#machines .machine')].map(m => ({
              name: m.querySelector('.machine-name').textContent,
              updated: m.querySelector('.updated-text').textContent,
              offline: !m.querySelector('.badge').hidden,
              badge: m.querySelector('.badge').textContent,
              dimmed: m.classList.contains('dimmed'),
              rows: [...m.querySelectorAll('.card')].map(c => ({
                title: c.querySelector('.title').textContent,
                remaining: c.querySelector('.remaining').textContent,
                used: c.querySelector('.used').textContent,
                window: c.querySelector('.window').textContent,
                reset: c.querySelector('.reset').textContent,
                gauge: c.querySelector('.gauge').getAttribute('aria-valuenow'),
                second: c.querySelector('.second').hidden ? null : {
                  name: c.querySelector('.second-name').textContent,
                  remaining: c.querySelector('.second-remaining').textContent,
                  reset: c.querySelector('.second-reset').textContent,
                  gauge: c.querySelector('.second .gauge').getAttribute('aria-valuenow'),
                  label: c.querySelector('.second .gauge').getAttribute('aria-label')},
                colour: getComputedStyle(c.querySelector('.remaining')).color,
                status: c.dataset.status}))}));""")

    def pair(self, code):
        field = self.driver.find_element(By.ID, "code")
        check(field.is_displayed(), "the pairing screen is not shown")
        field.clear()
        field.send_keys(code)
        self.driver.find_element(By.ID, "pair-button").click()
        wait_for("the home screen", lambda: self.driver.find_element(By.ID, "home").is_displayed())

    def view_answers(self):
        return self.js("""return performance.getEntriesByType('resource')
            .filter(e => new URL(e.name).pathname.endsWith('/snapshots/latest/view')).length;""")

    def screenshot(self, folder, name):
        if folder:
            os.makedirs(folder, exist_ok=True)
            self.driver.save_screenshot(os.path.join(folder, name))


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                 "--user-data-dir=" + profile, "--window-size=390,844"):
        options.add_argument(flag)
    options.add_experimental_option("mobileEmulation", {
        "deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 2.0}})
    return webdriver.Chrome(service=Service(DRIVER), options=options)


def run(args, scratch):
    relay = Relay(os.path.join(args.bin, "korvo-relay"), os.path.join(scratch, "relay.db"))
    connector = os.path.join(args.bin, "korvo-connector")
    home = Home(os.path.join(scratch, "home"), args.fixtures)
    step("relay at " + relay.url)
    driver = start_browser(os.path.join(scratch, "profile"))
    step("browser started")
    try:
        page = Page(driver)
        driver.get(relay.url + "/")
        wait_for("the pairing screen", lambda: driver.find_element(By.ID, "code").is_displayed())
        wait_for("the service worker", lambda: page.js("return !!navigator.serviceWorker.controller"))
        page.screenshot(args.screenshots, "web-pairing.png")

        step("pairing screen shown")
        pairing = home.command(connector, "--relay", relay.url, "pair")
        printed = ""
        while "on any phone" not in printed:
            line = pairing.stdout.readline()
            if not line:
                raise Failure("korvo-connector pair ended early: " + printed + pairing.stderr.read())
            printed += line
        code = re.search(r"Pairing code: (\d{6})\n", printed).group(1)
        step("typing code " + code)
        page.pair(code)
        out, err = pairing.communicate(timeout=30)
        check(pairing.returncode == 0, "pair failed: " + out + err)
        bundle = home.command(connector, "support-bundle").communicate(timeout=30)[0]
        expected = bundle_rows(bundle)
        check(set(expected) == {"Claude Code", "Codex CLI"}, bundle)

        step("connector paired and uploaded")
        # After the first upload the page, reloaded, shows the connector's own texts.
        driver.refresh()
        machines = wait_for("the uploaded rows",
                            lambda: [m for m in page.machines() if m["rows"]])
        check(len(machines) == 1, machines)
        rows = {r["title"]: r for r in machines[0]["rows"]}
        check(list(rows) == ["Claude Code", "Codex CLI"], rows)
        for title, want in expected.items():
            got = {k: rows[title][k] for k in want}
            check(got == want, "%s: page %s, connector %s" % (title, got, want))
        check(re.fullmatch(r"Reset in 2 h [45] min", rows["Claude Code"]["reset"]),
              rows["Claude Code"])
        # The seven-day window shows as clearly as the first: figure, gauge, reset by the clock.
        second = rows["Claude Code"]["second"]
        check(second and second["name"] == "7-day window" and second["remaining"] == "40% remaining"
              and second["gauge"] == "40" and second["label"] == "Claude Code 7-day 40% remaining"
              and re.fullmatch(r"Resets (Mon|Tue|Wed|Thu|Fri|Sat|Sun) \d\d:\d\d", second["reset"]),
              second)
        summary = driver.find_element(By.ID, "summary").text
        check(summary.startswith("Closest to its limit: Claude Code on ") and
              "40% left (7-day), resets " in summary, summary)
        # The Codex fixture's window reset long ago, so it reads as a fresh window.
        check(rows["Codex CLI"]["remaining"] == "100%", rows["Codex CLI"])
        check(rows["Claude Code"]["gauge"] == "58" and rows["Claude Code"]["status"] == "ok", rows)
        check(machines[0]["updated"] == "Updated less than 1 min ago", machines[0])
        # Returning to the page refreshes at once; one refresh is one answer per machine.
        answers = page.view_answers()
        page.js("document.dispatchEvent(new Event('visibilitychange'))")
        wait_for("a refresh", lambda: page.view_answers() > answers)

        step("first machine shows the connector's rows")
        status, session = http("POST", relay.url + "/v1/pairing/sessions",
                               {"connectorDeviceId": "mac_HOSTILE", "connectorDeviceName": HOSTILE_NAME})
        check(status == 200, session)
        driver.find_element(By.ID, "add").click()
        page.pair(session["pairingCode"])
        secret = session["qrPayload"].split("secret=")[1]
        status, polled = http("GET", relay.url + "/v1/pairing/sessions/" + session["pairingSessionId"],
                              headers={"x-pairing-secret": secret})
        check(status == 200 and polled["status"] == "paired", polled)
        space = polled["syncSpaceId"]
        now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
        snapshot = {
            "schemaVersion": 1, "snapshotId": "snap_HOSTILE0000000001", "syncSpaceId": space,
            "updatedAt": iso(now - datetime.timedelta(minutes=3)),
            "device": {"id": "mac_HOSTILE", "name": HOSTILE_NAME, "kind": "linux"},
            "providers": [{"id": "x", "displayName": HOSTILE_ROW, "source": "local_cli",
                           "confidence": "estimated", "status": "critical",
                           "observedAt": iso(now), "usage": {"usedPercent": 96.4},
                           "window": {"kind": "weekly"}}]}
        status, _ = http("POST", relay.url + "/v1/sync-spaces/%s/snapshots" % space, snapshot,
                         {"authorization": "Bearer " + polled["connectorDeviceToken"]})
        check(status == 200, "upload of the second machine refused")
        driver.refresh()
        machines = wait_for("two machines", lambda: [m for m in page.machines() if m["rows"]]
                            if len([m for m in page.machines() if m["rows"]]) == 2 else None)
        # The most urgent machine comes first.
        second = machines[0]
        check(second["name"] == HOSTILE_NAME and second["updated"] == "Updated 3 min ago",
              second)
        first = machines[1]
        check(second["rows"][0]["title"] == HOSTILE_ROW and second["rows"][0]["remaining"] == "4%"
              and second["rows"][0]["reset"] == "Reset unknown", second)
        check(not driver.find_elements(By.ID, "injected") and driver.title == "Korvo",
              "markup from the relay was interpreted")
        if args.screenshots:
            # The pictures show a realistic second machine, not the markup of the check above.
            snapshot["updatedAt"] = iso(now)
            snapshot["snapshotId"] = "snap_BUILDBOX0000000001"
            snapshot["device"]["name"] = "build-server"
            snapshot["providers"] = [
                {"id": "codex", "displayName": "Codex CLI", "source": "local_cli",
                 "confidence": "cli_reported", "status": "ok", "observedAt": iso(now),
                 "usage": {"usedPercent": 35, "remainingPercent": 65,
                           "remainingText": "Weekly 8% remaining · 92% used · resets " +
                           iso(now + datetime.timedelta(days=2, hours=3))},
                 "window": {"kind": "rolling", "label": "5h",
                            "resetAt": iso(now + datetime.timedelta(hours=1, minutes=40))}},
                {"id": "gemini-cli", "displayName": "Gemini CLI", "source": "local_cli",
                 "confidence": "cli_reported", "status": "unknown", "observedAt": iso(now),
                 "usage": {"inputTokens": 182340, "outputTokens": 9120,
                           "remainingText": "Thought 2310 tokens · Tool 415 tokens"}}]
            status, _ = http("POST", relay.url + "/v1/sync-spaces/%s/snapshots" % space, snapshot,
                             {"authorization": "Bearer " + polled["connectorDeviceToken"]})
            check(status == 200, "upload of the pictured machine refused")
            driver.refresh()
            wait_for("the pictured machine",
                     lambda: any(m["name"] == "build-server" for m in page.machines()))
            page.screenshot(args.screenshots, "web-two-machines.png")
            driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
                "features": [{"name": "prefers-color-scheme", "value": "dark"}]})
            page.screenshot(args.screenshots, "web-two-machines-dark.png")
            driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})

        step("second machine shown, markup as text")
        # Unpairing the second machine deletes this phone's device there and forgets its token.
        token = page.js("return JSON.parse(localStorage.getItem('korvo.pairings'))[1].token")
        # The second pairing's machine is the most urgent one: it is listed first.
        driver.find_elements(By.CSS_SELECTOR, ".machine .unpair")[0].click()
        driver.switch_to.alert.accept()
        wait_for("one machine", lambda: len(page.machines()) == 1)
        check(token not in page.js("return localStorage.getItem('korvo.pairings')"), "token kept")
        status, _ = http("GET", relay.url + "/v1/sync-spaces/%s/snapshots/latest/view" % space,
                         headers={"authorization": "Bearer " + token})
        check(status == 401, "the unpaired token still reads the snapshot: %d" % status)

        step("second machine unpaired")
        # With the relay gone the page still opens and shows the last answer, marked offline.
        relay.stop()
        driver.refresh()
        offline = wait_for("the offline copy", lambda: [m for m in page.machines() if m["offline"]])
        check([r["title"] for r in offline[0]["rows"]] == [r["title"] for r in first["rows"]] and
              [r["remaining"] for r in offline[0]["rows"]] ==
              [r["remaining"] for r in first["rows"]], offline)
        check(driver.find_element(By.ID, "offline").is_displayed(), "no offline mark")
        # Offline, the figures are dimmed and lose their status colour.
        check(offline[0]["dimmed"] and offline[0]["badge"] == "Offline", offline[0])
        check(offline[0]["rows"][0]["colour"] != first["rows"][0]["colour"], offline[0])

        step("offline for two minutes")
        # Two minutes pass on the phone's clock: the page writes its relative texts again by
        # itself (every 30 s), without an answer from the relay.
        page.js("const real = Date.now; Date.now = () => real() + 120000;")
        aged = wait_for("the texts written again", lambda: [
            m for m in page.machines() if m["updated"] == "Updated 2 min ago"], timeout=40)
        check(aged[0]["dimmed"] and aged[0]["offline"], aged[0])
        check(re.fullmatch(r"Reset in (2 h( [0-3] min)?|1 h 5\d min)", aged[0]["rows"][0]["reset"]), aged[0])
        check_pace(args, scratch, page)
    finally:
        driver.quit()
        if relay.process.poll() is None:
            relay.stop()


def check_pace(args, scratch, page):
    """A connector burning 1 % a minute for 40 minutes, uploaded through a relay whose clock a
    file sets: the row draws its nine five-minute points and the desktop's pace line, with the
    limit's clock time in the phone's time zone (+05:30 here)."""
    driver = page.driver
    clock = os.path.join(scratch, "now")
    start = int(time.time()) // 300 * 300 - 2400
    with open(clock, "w") as f:
        f.write(str(start))
    relay = Relay(os.path.join(args.bin, "korvo-relay"), os.path.join(scratch, "pace.db"),
                  extra=("--clock-file", clock))
    try:
        driver.execute_cdp_cmd("Emulation.setTimezoneOverride", {"timezoneId": "Asia/Kolkata"})
        driver.get(relay.url + "/")
        wait_for("the pairing screen", lambda: driver.find_element(By.ID, "code").is_displayed())
        status, session = http("POST", relay.url + "/v1/pairing/sessions",
                               {"connectorDeviceId": "mac_PACE", "connectorDeviceName": "studio"})
        check(status == 200, session)
        page.pair(session["pairingCode"])
        secret = session["qrPayload"].split("secret=")[1]
        status, polled = http("GET", relay.url + "/v1/pairing/sessions/" +
                              session["pairingSessionId"], headers={"x-pairing-secret": secret})
        check(status == 200 and polled["status"] == "paired", polled)
        space = polled["syncSpaceId"]
        moment = lambda seconds: datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc)
        reset = iso(moment(start + 5 * 3600))
        for minute in range(0, 41, 5):
            with open(clock, "w") as f:
                f.write(str(start + minute * 60))
            now = iso(moment(start + minute * 60))
            snapshot = {
                "schemaVersion": 1, "snapshotId": "snap_PACE%012d" % minute,
                "syncSpaceId": space, "updatedAt": now,
                "device": {"id": "mac_PACE", "name": "studio", "kind": "linux"},
                "providers": [
                    {"id": "claude-code", "displayName": "Claude Code", "source": "local_cli",
                     "confidence": "cli_reported", "status": "ok", "observedAt": now,
                     "usage": {"usedPercent": 10 + minute},
                     "window": {"kind": "rolling", "label": "5h", "resetAt": reset}},
                    {"id": "codex", "displayName": "Codex CLI", "source": "local_cli",
                     "confidence": "cli_reported", "status": "ok", "observedAt": now,
                     "usage": {"usedPercent": 12},
                     "window": {"kind": "weekly", "label": "7d"}}]}
            status, _ = http("POST", relay.url + "/v1/sync-spaces/%s/snapshots" % space,
                             snapshot, {"authorization": "Bearer " + polled["connectorDeviceToken"]})
            check(status == 200, "upload at minute %d refused" % minute)
        driver.refresh()
        rows = wait_for("the pace lines", lambda: page.js("""
            const cards = [...document.querySelectorAll('.card')];
            if (cards.length < 2 || cards.some(c => c.querySelector('.pace').hidden)) return null;
            return cards.map(c => {
              const spark = c.querySelector('.spark');
              const line = spark.querySelector('polyline');
              const box = spark.getBoundingClientRect();
              return {title: c.querySelector('.title').textContent,
                      pace: c.querySelector('.pace').textContent,
                      paceSize: parseFloat(getComputedStyle(c.querySelector('.pace')).fontSize),
                      shown: !spark.hasAttribute('hidden'), width: box.width, height: box.height,
                      points: line ? line.getAttribute('points').split(' ').length : 0};
            });"""))
        by_title = {r["title"]: r for r in rows}
        # 50 % at start + 40 min, 60 % an hour: 100 % at start + 90 min, 3.5 hours before the
        # reset; written at +05:30.
        limit = moment(start + 90 * 60) + datetime.timedelta(hours=5, minutes=30)
        claude = by_title["Claude Code"]
        check(claude["pace"] == "At this pace: limit at %02d:%02d, 3 h 30 min before the reset"
              % (limit.hour, limit.minute), claude)
        check(claude["shown"] and claude["points"] == 9 and claude["width"] >= 300 and
              claude["height"] >= 30 and claude["paceSize"] >= 14, claude)
        # A weekly row seen for 40 minutes: its line is drawn, its pace waits for more.
        codex = by_title["Codex CLI"]
        check(codex["shown"] and codex["points"] == 9 and codex["pace"] == "Pace: not enough data yet", codex)
        step("sparklines and pace lines drawn")
        page.screenshot(args.screenshots, "web-pace.png")
    finally:
        relay.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--screenshots", help="folder for phone-sized screenshots")
    args = parser.parse_args()
    if webdriver is None or not CHROMIUM or not os.path.exists(DRIVER):
        print("SKIPPED: the web view test needs chromium, chromium-driver and python3-selenium "
              "(scripts/install-deps installs them)")
        return 77
    scratch = tempfile.mkdtemp(prefix="korvo-web-")
    try:
        run(args, scratch)
    except Failure as failure:
        print("FAILED:", failure)
        return 1
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("web view: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
