#!/usr/bin/python3
"""The browser build's --simulate in a page in headless Chromium (served by scripts/run-web,
cross-origin isolated) writes the same files as the Linux program's for the same settings,
options and seed, the dates and times that label the runs aside, and its --report the same
CSV; the page's zip holds the files with their exact bytes; opened once, the page runs with
the server gone (its service worker), and keeps its working folder in the browser's storage,
one page at a time. Driven through the DevTools protocol.

Usage: browser_simulate_tests.py <page folder> <Linux pyokoran> <source folder>
Skips (77) when the Linux program has not been built.
"""
import base64
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request
import zipfile

import websocket

SETTINGS = ('subject = 被験者Ａ～\r\nn_tgtpokko = 5\r\nn_dstpokko = 3\r\nn_holes = 15\r\n'
            'duration = 1200\r\nisi1 = 400\r\nisi2 = 1800\r\ntime_limit = 20\r\n'
            'random_seed = 0\r\nflag_ordered = 0\r\n').encode('cp932')
OPTIONS = ['--simulate', '3', '--seed', '4000000007', '--hit', '0.7', '--false-alarm', '0.2',
           '--rt', '380,45,120', '--refresh', '144']
CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                  '--disable-background-networking', '--disable-component-update', '--disable-sync',
                  '--remote-debugging-port=0']


def masked(data):
    data = re.sub(rb'[0-9]{4}/[0-9]{2}/[0-9]{2}', b'DATE', data)
    return re.sub(rb'[0-9]{2}:[0-9]{2}:[0-9]{2}', b'TIME', data)


class Page:
    """One page of a headless Chromium of its own, through the DevTools protocol."""

    def __init__(self, profile):
        self.browser = subprocess.Popen(
            ['/usr/bin/chromium', *CHROMIUM_FLAGS, '--user-data-dir=' + profile, 'about:blank'],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(profile, 'DevToolsActivePort')
        for _ in range(300):
            if os.path.exists(port_file) and open(port_file).read().strip():
                break
            time.sleep(0.1)
        port = open(port_file).read().split()[0]
        targets = json.load(urllib.request.urlopen('http://127.0.0.1:%s/json/list' % port))
        page = next(t for t in targets if t['type'] == 'page')
        self.socket = websocket.create_connection(page['webSocketDebuggerUrl'], timeout=300)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({'id': self.next_id, 'method': method, 'params': params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get('id') == self.next_id:
                if 'error' in message:
                    raise RuntimeError('%s: %s' % (method, message['error']))
                return message['result']

    def evaluate(self, expression):
        result = self.call('Runtime.evaluate', expression=expression, awaitPromise=True,
                           returnByValue=True)
        if 'exceptionDetails' in result:
            raise RuntimeError(json.dumps(result['exceptionDetails'])[:2000])
        return result['result'].get('value')

    def close(self):
        self.browser.kill()
        self.browser.wait()


def main():
    page_folder, linux, source = sys.argv[1:4]
    if not os.access(linux, os.X_OK):
        print('SKIP: no Linux program at %s to compare with (build build/release first)' % linux)
        return 77
    work = tempfile.mkdtemp()
    server = page = None
    failures = []

    def check(what, ok):
        if not ok:
            failures.append(what)
            print('FAIL: ' + what)

    try:
        # The Linux program's files.
        desktop = os.path.join(work, 'linux')
        shutil.copytree(os.path.join(source, 'stim'), os.path.join(desktop, 'stim'))
        with open(os.path.join(desktop, 'ピョコラン.ini'), 'wb') as f:
            f.write(SETTINGS)
        env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
        subprocess.run([linux, *OPTIONS], cwd=desktop, env=env, check=True, stdout=subprocess.DEVNULL)

        server = subprocess.Popen([sys.executable, os.path.join(source, 'scripts', 'run-web'),
                                   '--port', '0', '--folder', page_folder],
                                  stdout=subprocess.PIPE, text=True)
        address = server.stdout.readline().strip()
        page = Page(os.path.join(work, 'profile'))
        page.call('Page.enable')

        def run_in_fresh_page(inputs, args):
            page.call('Page.navigate', url=address + 'simulate.html')
            for _ in range(300):
                if page.evaluate('document.readyState === "complete" && typeof pyokoranRun === "function"'):
                    break
                time.sleep(0.1)
            encoded = {p: base64.b64encode(d).decode() for p, d in inputs.items()}
            result = page.evaluate('pyokoranRun(%s, %s)' % (json.dumps(encoded), json.dumps(args)))
            result['files'] = {p: base64.b64decode(d) for p, d in result['files'].items()}
            return result

        result = run_in_fresh_page({'ピョコラン.ini': SETTINGS}, OPTIONS)
        check('the page is cross-origin isolated', result['isolated'])
        check('--simulate ends with 0 (%s)' % result['stderr'], result['status'] == 0)
        web_files = result['files']
        simulated = sorted(os.listdir(os.path.join(desktop, 'simulated')))
        check('the same files', sorted(p[len('simulated/'):] for p in web_files
                                       if p.startswith('simulated/')) == simulated)
        for name in simulated:
            with open(os.path.join(desktop, 'simulated', name), 'rb') as f:
                check(name + ' identical',
                      masked(f.read()) == masked(web_files.get('simulated/' + name, b'')))
        check("the subject's file is there", 'simulated/被験者Ａ～.csv' in web_files)

        # The page's zip of them: every file with its exact bytes and its UTF-8 name.
        encoded = {p: base64.b64encode(d).decode() for p, d in web_files.items()}
        archive = page.evaluate(
            'toBase64(zipFiles(Object.fromEntries(Object.entries(%s).map(([p, d]) => [p, fromBase64(d)]))))'
            % json.dumps(encoded))
        with zipfile.ZipFile(io.BytesIO(base64.b64decode(archive))) as z:
            check('the zip is sound', z.testzip() is None)
            check('the zip holds the files, exact', {i.filename: z.read(i) for i in z.infolist()} == web_files)
        # unzip, which reads the names from the Unicode path field, sees the same names.
        zip_path = os.path.join(work, 'export.zip')
        with open(zip_path, 'wb') as f:
            f.write(base64.b64decode(archive))
        listing = subprocess.run(['unzip', '-Z1', zip_path], capture_output=True,
                                 env=dict(os.environ, LANG='C.UTF-8', LC_ALL='C.UTF-8'))
        check('unzip names the files alike',
              sorted(listing.stdout.decode('utf-8', 'replace').split()) == sorted(web_files))

        # --report over the page's runs, in the page and by the Linux program: the same table.
        runs = {p: d for p, d in web_files.items() if p.startswith('simulated/')}
        report = run_in_fresh_page(runs, ['--report', 'simulated', '--out', 'report'])
        check('--report ends with 0 (%s)' % report['stderr'], report['status'] == 0)
        check('HTML, no PDF', b'<html' in report['files'].get('report.html', b'')
              and 'report.pdf' not in report['files'])
        again = os.path.join(work, 'again')
        for path, data in runs.items():
            os.makedirs(os.path.dirname(os.path.join(again, path)), exist_ok=True)
            with open(os.path.join(again, path), 'wb') as f:
                f.write(data)
        subprocess.run([linux, '--report', 'simulated', '--out', 'report'], cwd=again, env=env,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(again, 'report.csv'), 'rb') as f:
            check('the same CSV', f.read() == report['files'].get('report.csv'))

        # Offline: with the server gone, the pages come from the service worker's cache.
        for _ in range(300):
            if page.evaluate('navigator.serviceWorker.controller !== null'):
                break
            time.sleep(0.1)
        check('a service worker controls the page', page.evaluate('navigator.serviceWorker.controller !== null'))
        server.kill()
        server.wait()
        server = None
        offline = run_in_fresh_page({'ピョコラン.ini': SETTINGS}, ['--simulate', '1', '--seed', '4000000007'])
        check('offline, --simulate ends with 0 (%s)' % offline['stderr'], offline['status'] == 0)
        check("offline, the subject's file is written", 'simulated/被験者Ａ～.csv' in offline['files'])
        # The folder is kept in the browser's storage: the earlier runs are still there.
        check('the working folder kept the earlier runs',
              offline['files'].get('simulated/ピョコラン.txt', b'').count(b'\r\n')
              == web_files['simulated/ピョコラン.txt'].count(b'\r\n') + 1)
        # The task page offline too: it comes from the cache and its program shows the main window.
        page.call('Page.navigate', url=address + 'index.html')
        shown = False
        for _ in range(300):
            if page.evaluate('!!document.getElementById("main") && !document.getElementById("main").hidden'):
                shown = True
                break
            time.sleep(0.1)
        check('offline, the task page loads and shows its main window', shown)

        # A page closed in the middle of a long simulation loses none of the runs written before.
        page.call('Page.navigate', url=address + 'simulate.html')
        for _ in range(300):
            if page.evaluate('document.readyState === "complete" && typeof pyokoranRun === "function"'):
                break
            time.sleep(0.1)
        # (Nine holes, whose layouts can be made for hundreds of seeds in a row.)
        nine = base64.b64encode(SETTINGS.replace(b'n_holes = 15', b'n_holes = 9')
                                .replace(b'n_tgtpokko = 5', b'n_tgtpokko = 4')
                                .replace(b'n_dstpokko = 3', b'n_dstpokko = 2')).decode()
        page.evaluate('pyokoranRun({"ピョコラン.ini": "%s"}, ["--simulate", "1000", "--seed", "1", "--out", "long"]); true'
                      % nine)
        for _ in range(200):
            if page.evaluate('window.pyokoranStores') >= 30:
                break
            time.sleep(0.1)
        check('runs are stored while the simulation goes on', page.evaluate('window.pyokoranStores') >= 30)
        page.call('Page.navigate', url='about:blank')
        time.sleep(1)
        after = run_in_fresh_page({}, ['--simulate', '1', '--seed', '2', '--out', 'long'])
        lines = after['files'].get('long/ピョコラン.txt', b'').split(b'\r\n')
        check('the runs written before the page closed are kept (%d lines; %s)' % (len(lines), after['stderr']),
              after['status'] == 0 and len(lines) > 4)

        # While another page holds the working folder, a run is refused and writes nothing.
        page.evaluate('new Promise((held) => navigator.locks.request("pyokoran-working-folder",'
                      ' () => { held(); return new Promise((release) => { window.release = release; }); }))')
        refused = page.evaluate('pyokoranRun({}, ["--simulate", "1"]).then(() => "ran", (e) => String(e))')
        check('a second page is refused (%s)' % refused, 'Another page' in refused)
        page.evaluate('window.release(); true')
    finally:
        if page:
            page.close()
        if server:
            server.kill()
            server.wait()
        shutil.rmtree(work, ignore_errors=True)
    if not failures:
        print('PASS: %d files identical apart from dates and times, in a cross-origin isolated page'
              % len(simulated))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
