#!/usr/bin/python3
"""The lab's clients of a bench's HTTP endpoint, for tst_labmonitoring.

  lab_clients.py prometheus --target HOST:PORT --device DEV --rules FILE
      Starts Debian's Prometheus (its own data folder, 127.0.0.1, a free port,
      scraping TARGET every second with the rules loaded), prints
      "height=H amplitude=A rules=N" once its query API returns DEV's eye
      height and amplitude, then waits for a line on standard input and
      prints "up=0" once zentaval_up of DEV is 0. Prometheus is stopped in
      every case.
  lab_clients.py page --url URL [--screenshot FILE]
      Opens URL in headless chromium (selenium, chromium-driver) and prints one
      JSON object: the first and a later eye height shown, the eye picture's
      natural width, the trend's lines drawn, the links to /metrics.
  lab_clients.py load --target HOST:PORT --seconds N
      The page open in headless chromium and Prometheus scraping TARGET every
      second, for N seconds (scripts/measure-http.sh); prints the scrapes made.
Exit status 0 when everything was seen, 1 otherwise (the reason on stderr).
"""
import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for(what, check, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = check()
        if value is not None:
            return value
        time.sleep(0.2)
    raise TimeoutError(what)


def run_prometheus(arguments):
    folder = tempfile.mkdtemp(prefix="zentaval-prometheus-")
    port = free_port()
    config = os.path.join(folder, "prometheus.yml")
    with open(config, "w") as out:
        out.write(f"""global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files:
  - {os.path.abspath(arguments.rules)}
scrape_configs:
  - job_name: zentaval
    static_configs:
      - targets: ['{arguments.target}']
""")
    server = subprocess.Popen(
        ["prometheus", "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(folder, "data"),
         "--web.listen-address=127.0.0.1:%d" % port, "--log.level=warn"],
        stdout=subprocess.DEVNULL, stderr=open(os.path.join(folder, "log"), "w"))

    def query(expression):
        url = "http://127.0.0.1:%d/api/v1/query?query=%s" % (port, urllib.parse.quote(expression))
        try:
            with urllib.request.urlopen(url, timeout=2) as answer:
                result = json.load(answer)["data"]["result"]
        except OSError:
            return None
        return float(result[0]["value"][1]) if result else None

    def rules():
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/api/v1/rules" % port, timeout=2) as answer:
                groups = json.load(answer)["data"]["groups"]
        except OSError:
            return None
        return sum(len(group["rules"]) for group in groups) or None

    device = '{device="%s"}' % arguments.device
    try:
        height = wait_for("the eye height in Prometheus", lambda: query("zentaval_eye_height_unit_intervals" + device), 40)
        amplitude = wait_for("the amplitude in Prometheus", lambda: query("zentaval_amplitude_volts" + device), 10)
        print("height=%r amplitude=%r rules=%d" % (height, amplitude, wait_for("the rules", rules, 10)), flush=True)
        sys.stdin.readline()
        wait_for("zentaval_up 0", lambda: 0 if query("zentaval_up" + device) == 0 else None, 20)
        print("up=0", flush=True)
        return 0
    except TimeoutError as error:
        print("not seen: %s" % error, file=sys.stderr)
        with open(os.path.join(folder, "log")) as log:
            sys.stderr.write(log.read()[-2000:])
        return 1
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(10)
        except subprocess.TimeoutExpired:
            server.kill()
        shutil.rmtree(folder, ignore_errors=True)


def start_prometheus(target):
    folder = tempfile.mkdtemp(prefix="zentaval-prometheus-")
    port = free_port()
    config = os.path.join(folder, "prometheus.yml")
    with open(config, "w") as out:
        out.write("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: zentaval\n"
                  "    static_configs:\n      - targets: ['%s']\n" % target)
    server = subprocess.Popen(
        ["prometheus", "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(folder, "data"),
         "--web.listen-address=127.0.0.1:%d" % port, "--log.level=warn"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return server, folder, port


def run_load(arguments):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    server, folder, port = start_prometheus(arguments.target)
    profile = tempfile.mkdtemp(prefix="zentaval-chromium-")
    options = webdriver.ChromeOptions()
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile]:
        options.add_argument(flag)
    browser = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
                               options=options)
    try:
        browser.get("http://%s/" % arguments.target)
        time.sleep(arguments.seconds)
        url = "http://127.0.0.1:%d/api/v1/query?query=%s" % (
            port, urllib.parse.quote('count_over_time(up{job="zentaval"}[1h])'))
        with urllib.request.urlopen(url, timeout=5) as answer:
            result = json.load(answer)["data"]["result"]
        print("load_scrapes=%s" % (result[0]["value"][1] if result else "unknown"), flush=True)
        return 0
    finally:
        browser.quit()
        server.send_signal(signal.SIGTERM)
        server.wait(10)
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(profile, ignore_errors=True)


def run_page(arguments):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By

    profile = tempfile.mkdtemp(prefix="zentaval-chromium-")
    options = webdriver.ChromeOptions()
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--window-size=780,820"]:
        options.add_argument(flag)
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    browser = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
                               options=options)
    try:
        browser.set_page_load_timeout(20)
        browser.get(arguments.url)

        def height():
            shown = browser.find_elements(By.CSS_SELECTOR, "td.value.height")
            text = shown[0].text if shown else ""
            return text if text not in ("", "\u2014") else None

        first = wait_for("a reading on the page", height, 15)
        later = wait_for("the reading to change", lambda: height() if height() != first else None, 20)
        width = wait_for("the eye picture decoded", lambda: browser.execute_script(
            "const eye = document.querySelector('img.eye');"
            "return eye && !eye.hidden && eye.complete && eye.naturalWidth > 0 ? eye.naturalWidth : null;"), 30)
        lines = wait_for("the trend drawn", lambda: len(browser.find_elements(
            By.CSS_SELECTOR, "svg.trend polyline")) or None, 15)
        links = [link.get_attribute("href") for link in browser.find_elements(By.CSS_SELECTOR, "a")]
        if arguments.screenshot:
            time.sleep(arguments.settle)
            browser.save_screenshot(arguments.screenshot)
        print(json.dumps({"first": first, "later": later, "eyeWidth": width, "trendLines": lines,
                          "metricsLinked": any(link.endswith("/metrics") for link in links)}), flush=True)
        return 0
    except TimeoutError as error:
        print("not seen: %s" % error, file=sys.stderr)
        return 1
    finally:
        browser.quit()
        shutil.rmtree(profile, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    prometheus = commands.add_parser("prometheus")
    prometheus.add_argument("--target", required=True)
    prometheus.add_argument("--device", required=True)
    prometheus.add_argument("--rules", required=True)
    page = commands.add_parser("page")
    page.add_argument("--url", required=True)
    page.add_argument("--screenshot")
    page.add_argument("--settle", type=float, default=0)
    load = commands.add_parser("load")
    load.add_argument("--target", required=True)
    load.add_argument("--seconds", type=float, required=True)
    arguments = parser.parse_args()
    return {"prometheus": run_prometheus, "page": run_page, "load": run_load}[arguments.command](arguments)


if __name__ == "__main__":
    sys.exit(main())
