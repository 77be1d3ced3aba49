#!/usr/bin/python3
"""The task in its page (index.html, served by scripts/run-web) in headless Chromium, used as a
participant and an experimenter would: the page loads, a tap on the main window starts, the
condition dialog refuses a field that is not a number and then takes the settings, the start
message, a run with touches dragged over the stage (creatures struck, Hits booked), the end
message, the ranking; a run aborted with Escape and one aborted by the long press in the
corner are not recorded; the timing check from the menu reports its lines (and no verdict in a
headless browser); the files are in the browser's storage with their exact bytes, as
Export's zip hands them out; a second page of the task is kept out; a page closed in the middle
of a run loses none of the runs before. Logic only: headless Chromium says nothing about the
timing of a real screen. Driven through the DevTools protocol.

Usage: browser_task_tests.py <page folder> <source folder> [<folder for screenshots>]
"""
import base64
import io
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_simulate_tests import Page  # noqa: E402

WIDTH, HEIGHT = 1024, 768

# A folder of the origin-private file system (a directory handle as the folder picker gives).
OPFS_FOLDER = 'navigator.storage.getDirectory().then((r) => r.getDirectoryHandle("%s", {create: true}))'
# Files (path: base64) written into it.
OPFS_WRITE = (OPFS_FOLDER % '%s') + '.then(async (d) => { for (const [p, b] of Object.entries(%s)) {' \
    ' const w = await (await d.getFileHandle(p, {create: true})).createWritable();' \
    ' await w.write(Uint8Array.from(atob(b), (c) => c.charCodeAt(0))); await w.close(); } return true; })'


def opfs_files(task, name):
    """The files of a folder of the origin-private file system, stim included."""
    found = task.evaluate((OPFS_FOLDER % name) + '.then(async (d) => { const out = {};'
                          ' const walk = async (h, pre) => { for await (const [n, e] of h.entries()) {'
                          ' if (e.kind === "directory") await walk(e, pre + n + "/"); else out[pre + n] ='
                          ' btoa(Array.from(new Uint8Array(await (await e.getFile()).arrayBuffer()),'
                          ' (c) => String.fromCharCode(c)).join("")); } }; await walk(d, ""); return out; })')
    return {p: base64.b64decode(b) for p, b in found.items()}


class Task:
    """The task's page and what a user does with it."""

    def __init__(self, page, address, shots):
        self.page = page
        self.address = address
        self.shots = shots

    def evaluate(self, expression):
        return self.page.evaluate(expression)

    def wait(self, expression, seconds=15):
        end = time.time() + seconds
        while time.time() < end:
            try:
                if self.evaluate(expression):
                    return True
            except RuntimeError:
                pass
            time.sleep(0.05)
        return False

    def open(self):
        self.page.call('Page.navigate', url=self.address + 'index.html')
        return self.wait('document.getElementById("main") && !document.getElementById("main").hidden', 30)

    def shot(self, name):
        if not self.shots:
            return
        data = self.page.call('Page.captureScreenshot', format='png')['data']
        with open(os.path.join(self.shots, name + '.png'), 'wb') as f:
            f.write(base64.b64decode(data))

    def dialog(self):
        return self.evaluate('(document.querySelector("dialog[open]:last-of-type") || {}).id || ""')

    def open_dialogs(self):
        return self.evaluate('[...document.querySelectorAll("dialog[open]")].map((d) => d.id).join(",")')

    def wait_dialog(self, name, seconds=15):
        return self.wait('[...document.querySelectorAll("dialog[open]")].some((d) => d.id === "%s")' % name, seconds)

    def message_text(self):
        return self.evaluate('document.querySelector("#message .text").textContent')

    def key(self, key, code, vk, text=''):
        for kind in ('keyDown' if text else 'rawKeyDown', 'keyUp'):
            params = dict(type=kind, key=key, code=code, windowsVirtualKeyCode=vk, nativeVirtualKeyCode=vk)
            if text and kind == 'keyDown':
                params.update(text=text, unmodifiedText=text)
            self.page.call('Input.dispatchKeyEvent', **params)

    def enter(self):
        self.key('Enter', 'Enter', 13, '\r')

    def escape(self):
        self.key('Escape', 'Escape', 27)

    def click(self, x, y):
        for kind in ('mousePressed', 'mouseReleased'):
            self.page.call('Input.dispatchMouseEvent', type=kind, x=x, y=y, button='left', clickCount=1)

    def touch(self, kind, points):
        self.page.call('Input.dispatchTouchEvent', type=kind,
                       touchPoints=[{'x': x, 'y': y, 'id': i} for i, (x, y) in enumerate(points)])

    def set_field(self, control, text):
        self.evaluate('document.getElementById("c%d").value = %s; true' % (control, repr(text)))

    def sweep(self, seconds):
        """Touches dragged row by row over the whole stage for a while."""
        end = time.time() + seconds
        rows = list(range(60, HEIGHT, 110))
        while time.time() < end:
            self.touch('touchStart', [(120, rows[0])])
            for y in rows:
                for x in range(120, WIDTH - 20, 40):
                    self.touch('touchMove', [(x, y)])
            self.touch('touchEnd', [])

    def files(self):
        archive = base64.b64decode(self.evaluate(
            'btoa(Array.from(pyokoranPage.exportZip(), (b) => String.fromCharCode(b)).join(""))'))
        with zipfile.ZipFile(io.BytesIO(archive)) as z:
            assert z.testzip() is None
            return {i.filename: z.read(i) for i in z.infolist()}


def main():
    page_folder, source = sys.argv[1:3]
    shots = sys.argv[3] if len(sys.argv) > 3 else ''
    work = tempfile.mkdtemp()
    server = page = None
    failures = []

    def check(what, ok):
        print(('ok: ' if ok else 'FAIL: ') + what)
        if not ok:
            failures.append(what)

    try:
        server = subprocess.Popen([sys.executable, os.path.join(source, 'scripts', 'run-web'),
                                   '--port', '0', '--folder', page_folder],
                                  stdout=subprocess.PIPE, text=True)
        address = server.stdout.readline().strip()
        page = Page(os.path.join(work, 'profile'))
        page.call('Page.enable')
        page.call('Emulation.setDeviceMetricsOverride', width=WIDTH, height=HEIGHT, deviceScaleFactor=1,
                  mobile=False, screenWidth=WIDTH, screenHeight=HEIGHT)
        page.call('Emulation.setTouchEmulationEnabled', enabled=True, maxTouchPoints=5)
        task = Task(page, address, shots)

        check('the page loads and shows the main window', task.open())
        check('the page is cross-origin isolated', task.evaluate('self.crossOriginIsolated'))
        task.shot('main')

        # A tap on the main window starts: the condition dialog with the defaults.
        task.click(WIDTH // 2, HEIGHT // 2)
        check('the condition dialog opens', task.wait_dialog('condition'))
        check('it shows the defaults', task.evaluate(
            '["1001","1011","1006","1007","1012","1008","1009","1010","1013"].map((i) => '
            'document.getElementById("c" + i).value).join(" ")') == 'SBJ0000 12 6 3 60 2000 1000 3000 0')
        check('the subject has the focus, its text selected', task.evaluate(
            'document.activeElement.id === "c1001" && document.activeElement.selectionEnd === 7'))
        task.set_field(1001, '被験者Ｂ')
        task.set_field(1011, 'abc')
        task.set_field(1006, '2')
        task.set_field(1007, '1')
        task.set_field(1012, '4')
        task.set_field(1008, '1500')
        task.set_field(1009, '100')
        task.set_field(1010, '300')
        task.set_field(1013, '-5')
        task.shot('condition')
        task.enter()
        check('a field that is not a number is refused with the number message',
              task.wait_dialog('message') and task.message_text() == '整数を入力してください。')
        check('over the condition dialog', task.open_dialogs() == 'message,condition'
              or set(task.open_dialogs().split(',')) == {'message', 'condition'})
        task.shot('refused')
        task.enter()
        check('the refused field gets the focus, its text selected', task.wait(
            'document.activeElement.id === "c1011" && document.activeElement.selectionEnd === 3'
            ' && !document.getElementById("message").open'))
        # Tab goes on in the desktop dialog's order.
        task.key('Tab', 'Tab', 9)
        check('Tab goes on to the next field in order', task.evaluate('document.activeElement.id') == 'c1006')
        task.set_field(1011, '4x')  # a number followed by anything counts
        task.enter()
        check('the start message', task.wait_dialog('message') and task.message_text() == 'キーを押すと始まります。'
              and task.evaluate('document.querySelector("#message .title").textContent') == '開始')
        task.enter()
        check('the run shows the stage', task.wait('!document.getElementById("stage").hidden', 10))
        time.sleep(0.5)
        task.shot('run')
        task.sweep(6)
        check('the end message', task.wait_dialog('message', 20))
        text = task.message_text()
        task.shot('end')
        hits = int(text.split('Hit:')[1].split(',')[0]) if 'Hit:' in text else 0
        check('touches struck targets: %r' % text, text.startswith('おわりました。') and hits > 0)
        check('the strikes were heard (WebAudio)', task.evaluate('pyokoranPage.soundsPlayed') >= hits)
        task.enter()
        check('the ranking', task.wait_dialog('ranking'))
        summary = task.evaluate('document.getElementById("r1008").textContent')
        lines = task.evaluate('[...document.querySelectorAll("#r1007 [role=option]")].map((o) => o.textContent)')
        check('the ranking names the run: %s' % summary,
              summary.startswith('【最終結果】 被験者Ｂ さん ／ スコア：') and '（順位: 1 人中 1 位 ／ 上位から 100.0 ％）' in summary)
        check('one line, selected', len(lines) == 1 and lines[0].startswith('0001:  ') and lines[0].endswith('   被験者Ｂ')
              and task.evaluate('document.querySelector("#r1007 [aria-selected=true]") !== null'))
        task.shot('ranking')
        task.enter()
        check('back to the main window', task.wait('!document.getElementById("main").hidden && !document.querySelector("dialog[open]")'))

        # (The settings are written back once the main window is back.)
        for _ in range(100):
            files = task.files()
            if files.get('ピョコラン.ini'):
                break
            time.sleep(0.05)
        summary_file = files.get('ピョコラン.txt', b'')
        rows = summary_file.split(b'\r\n')
        check('the summary file: a header and one run, CR LF', len(rows) == 3 and rows[2] == b'' and b'\n' not in rows[1].replace(b'\r\n', b''))
        fields = rows[1].split(b'\t') if len(rows) > 1 else []
        check('its line: the subject in code page 932, the settings, the Hits: %r' % fields[:1],
              len(fields) >= 17 and fields[0] == '被験者Ｂ'.encode('cp932')
              and fields[3:11] == [b'2', b'1', b'4', b'1', b'1500', b'100', b'300', b'4']
              and int(fields[12]) == hits)
        check('the seed -5 as typed', len(fields) > 11 and fields[11] == b'-5')
        appearances = files.get('被験者Ｂ.csv', b'')
        check("the subject's file has its appearances, CR LF",
              appearances.count(b'\r\n') >= 3 and b'\n' not in appearances.replace(b'\r\n', b''))
        timing = files.get('被験者Ｂ_timing.csv', b'')
        check('a timing file with the run', timing.count(b'\n') >= 3)
        timing_summary = next((d for n, d in files.items() if n.endswith('.txt') and n != 'ピョコラン.txt'), b'')
        check('the timing summary says Mode browser: %r' % timing_summary[-300:],
              b'\tbrowser\t' in timing_summary and b'no flip time' in timing_summary)
        check('the settings are written back with the run', files.get('ピョコラン.ini', b'').startswith(
            'subject = 被験者Ｂ\r\n'.encode('cp932')) and b'n_holes = 4\r\n' in files.get('ピョコラン.ini', b''))
        check('the stimuli are in the folder', 'stim/bg.bmp' in files)
        direct = task.evaluate('Object.fromEntries(Object.entries(filesBelow(program.FS, "/work", "", {})).map('
                               '([p, b]) => [p, btoa(Array.from(b, (c) => String.fromCharCode(c)).join(""))]))')
        check('the zip holds exactly the files of the folder, byte for byte',
              {p: base64.b64decode(d) for p, d in direct.items()} == files)

        # A run aborted with Escape is not recorded; the ranking still comes.
        task.evaluate('document.querySelector("[data-command=\\"40005\\"]").click(); true')
        check('Start from the menu', task.wait_dialog('condition'))
        check('the dialog shows the values entered last', task.evaluate(
            'document.getElementById("c1013").value === "4294967291" && document.getElementById("c1011").value === "4"'))
        task.set_field(1012, '30')  # long enough for the aborts
        task.enter()
        check('the start message again', task.wait_dialog('message'))
        task.enter()
        task.wait('!document.getElementById("stage").hidden', 10)
        time.sleep(1)
        task.escape()
        check('Escape ends the run', task.wait_dialog('message', 10) and task.message_text().startswith('おわりました。'))
        task.enter()
        check('the ranking after the abort', task.wait_dialog('ranking'))
        task.escape()
        task.wait('!document.querySelector("dialog[open]")')
        check('the aborted run is not recorded', task.files().get('ピョコラン.txt') == summary_file)

        # On a touch screen: a long press in the top left corner aborts.
        task.click(WIDTH // 2, HEIGHT // 2)
        task.wait_dialog('condition')
        task.enter()
        task.wait_dialog('message')
        task.enter()
        task.wait('!document.getElementById("stage").hidden', 10)
        time.sleep(0.5)
        task.touch('touchStart', [(20, 20)])
        time.sleep(1.0)
        check('a shorter press in the corner does not abort', task.dialog() == '')
        task.shot('abort-hold')
        time.sleep(1.5)
        task.touch('touchEnd', [])
        check('a two-second press in the corner aborts', task.wait_dialog('message', 10)
              and task.message_text().startswith('おわりました。'))
        task.enter()
        task.wait_dialog('ranking')
        task.enter()
        task.wait('!document.querySelector("dialog[open]")')
        check('that run is not recorded either', task.files().get('ピョコラン.txt') == summary_file)

        # About.
        task.evaluate('document.querySelector("[data-command=\\"40002\\"]").click(); true')
        check('About', task.wait_dialog('about') and 'バージョン' in task.evaluate(
            'document.getElementById("about-credit").textContent'))
        task.shot('about')
        task.enter()
        task.wait('!document.querySelector("dialog[open]")')

        # The timing check from the menu: the pattern on the stage, taps timed meanwhile, the
        # report with its lines, and no verdict on timing from a headless browser.
        task.evaluate('document.querySelector("[data-page=\\"check-timing\\"]").click(); true')
        check('the timing check shows its pattern', task.wait('!document.getElementById("stage").hidden', 10))
        time.sleep(0.5)
        task.shot('check-timing')
        for _ in range(3):
            task.touch('touchStart', [(WIDTH // 2, HEIGHT // 2)])
            task.touch('touchEnd', [])
            time.sleep(0.3)
        check('its report', task.wait_dialog('timing', 20))
        report = task.evaluate('document.getElementById("timing-report").textContent').split('\n')
        task.shot('check-timing-report')
        wanted = ['ピョコラン timing check (browser)', '  mode a run would use: browser',
                  '  refresh lock: not reported', '    frame intervals judged: ', '    median: ',
                  '  frame times: requestAnimationFrame time', '  dropped frames: ',
                  "  input delay, press to the page's handler: 3 presses",
                  "  input delay, press to the program's event pump: 3 presses",
                  '  tick lag behind the monotonic clock: ', '  headless browser: ']
        check('the report has its lines: %r' % report,
              all(any(line.startswith(w) for line in report) for w in wanted)
              and 'no flip time' in report[2] and 'no refresh lock' in report[2])
        check('a headless browser gets no verdict on timing', report[-2:] == ['NOT JUDGED', ''])
        task.enter()
        check('back to the main window after the check', task.wait(
            '!document.getElementById("main").hidden && !document.querySelector("dialog[open]")'
            ' && document.getElementById("stage").hidden'))

        # The report of the folder's runs, in a new tab.
        task.evaluate('document.querySelector("[data-page=\\"report\\"]").click(); true')
        check('the report opens (%s)' % task.evaluate('pyokoranPage.reportError || ""'),
              task.wait('pyokoranPage.reportBytes > 1000 || !!pyokoranPage.reportError', 60)
              and not task.evaluate('pyokoranPage.reportError'))
        own = page.call('Target.getTargetInfo')['targetInfo']['targetId']
        for target in page.call('Target.getTargets')['targetInfos']:
            if target['type'] == 'page' and target['targetId'] != own:
                page.call('Target.closeTarget', targetId=target['targetId'])
        page.call('Page.bringToFront')

        # Import: a zip of a folder (deflated): stimuli replace, a new result file is added, a
        # result file that differs from the folder's is left alone and named.
        archive = os.path.join(work, 'import.zip')
        with zipfile.ZipFile(archive, 'w', zipfile.ZIP_DEFLATED) as z:
            z.writestr('folder/stim/dstpokko.wav', files['stim/tgtpokko.wav'])
            z.writestr('folder/stim/bg.bmp', files['stim/bg.bmp'])
            z.writestr('folder/ピョコラン.txt', summary_file + b'x')
            z.writestr('folder/被験者Ｃ.csv', b'earlier\r\n')
        document = page.call('DOM.getDocument')['root']['nodeId']
        chooser = page.call('DOM.querySelector', nodeId=document, selector='#import-files')['nodeId']
        page.call('DOM.setFileInputFiles', nodeId=chooser, files=[archive])
        check('Import tells what it did', task.wait_dialog('message') and '読み込みました: 2 個' in task.message_text()
              and 'ピョコラン.txt' in task.message_text())
        task.enter()
        task.wait('!document.querySelector("dialog[open]")')
        imported = task.files()
        check('the stimulus is replaced, the new file added, the results kept',
              imported.get('stim/dstpokko.wav') == files['stim/tgtpokko.wav']
              and imported.get('被験者Ｃ.csv') == b'earlier\r\n' and imported.get('ピョコラン.txt') == summary_file)

        # A folder on this computer. The browser's folder picker cannot be used headless: a folder
        # of the origin-private file system is handed to the same code a chosen one goes through.
        check('the menu offers a folder on this computer', task.evaluate(
            '!document.querySelector("[data-page=\\"folder\\"]").hidden'))
        task.evaluate(OPFS_WRITE % ('other', '{"ピョコラン.txt": "b3RoZXI="}'))
        check('a folder whose results differ from the page\'s is refused, naming them', task.evaluate(
            (OPFS_FOLDER % 'other') + '.then((d) => pyokoranPage.useFolder(d)).then((r) => (r.refused || []).join())') == 'ピョコラン.txt'
            and task.wait_dialog('message') and 'ピョコラン.txt' in task.message_text() and 'は使いません' in task.message_text())
        task.enter()
        task.evaluate(OPFS_WRITE % ('real', '{"被験者Ｄ.csv": "ZA0K", "notes.pdf": "eA=="}'))
        task.evaluate((OPFS_FOLDER % 'real') + '.then((d) => pyokoranPage.useFolder(d)).then(() => true)')
        check('the folder is taken into use', task.wait_dialog('message') and '「real」を使います' in task.message_text())
        task.enter()
        real = opfs_files(task, 'real')
        stored = task.files()
        check('the page\'s files are written into it, byte for byte',
              all(real.get(p) == stored[p] for p in ('ピョコラン.txt', 'ピョコラン.ini', '被験者Ｂ.csv', 'stim/bg.bmp')))
        check('its result file comes into the page, its other files do not',
              stored.get('被験者Ｄ.csv') == b'd\r\n' and 'notes.pdf' not in stored)
        # From then on what is stored goes into the folder as well.
        single = os.path.join(work, '被験者Ｅ.csv')
        with open(single, 'wb') as f:
            f.write(b'e\r\n')
        page.call('DOM.setFileInputFiles', nodeId=chooser, files=[single])
        task.wait_dialog('message')
        task.enter()
        check('a file stored later is written into the folder', task.wait(
            'navigator.storage.getDirectory().then((r) => r.getDirectoryHandle("real")).then((d) =>'
            ' d.getFileHandle("被験者Ｅ.csv")).then((f) => f.getFile()).then((f) => f.size === 3, () => false)'))
        task.wait('!document.querySelector("dialog[open]")')
        # A file changed in the folder from elsewhere is not written over; the bar says so. (Then
        # both sides are made the same again for what follows.)
        outcome = task.evaluate((OPFS_FOLDER % 'real') + '.then(async (d) => {'
                                ' const w = await (await d.getFileHandle("被験者Ｄ.csv")).createWritable();'
                                ' await w.write("outside"); await w.close();'
                                ' program.FS.writeFile("/work/被験者Ｄ.csv", "d\\r\\nmore\\r\\n"); await writeThrough();'
                                ' const kept = await (await (await d.getFileHandle("被験者Ｄ.csv")).getFile()).text();'
                                ' const told = !document.getElementById("folder-again").hidden;'
                                ' program.FS.writeFile("/work/被験者Ｄ.csv", kept); await sync(program.FS, false);'
                                ' await writeThrough(); folder.problem = ""; showFolderMenu();'
                                ' return [(pyokoranPage.folderSkipped || []).join(), kept, told]; })')
        check('a file changed in the folder elsewhere is not written over: %r' % outcome,
              outcome == ['被験者Ｄ.csv', 'outside', True])
        check('where the browser lacks the picker (Safari, Firefox) the menu item is hidden', task.evaluate(
            '(() => { const keep = window.showDirectoryPicker; window.showDirectoryPicker = undefined; showFolderMenu();'
            ' const hidden = document.querySelector("[data-page=\\"folder\\"]").hidden;'
            ' window.showDirectoryPicker = keep; showFolderMenu(); return hidden; })()'))

        # A second page of the task is kept out of the folder.
        task.evaluate('(() => { const f = document.createElement("iframe"); f.id = "second"; f.src = "index.html";'
                      ' document.body.append(f); return true; })()')
        check('a second page is kept out', task.wait(
            '(document.getElementById("second").contentWindow.pyokoranPage || {}).problem === "busy"', 30))
        task.evaluate('document.getElementById("second").remove(); true')

        # A page closed in the middle of a run loses none of the runs before.
        task.click(WIDTH // 2, HEIGHT // 2)
        task.wait_dialog('condition')
        task.enter()
        task.wait_dialog('message')
        task.enter()
        task.wait('!document.getElementById("stage").hidden', 10)
        task.sweep(1)
        page.call('Page.navigate', url='about:blank')
        time.sleep(1)
        check('the page opens again after being closed mid-run', task.open())
        check('the run before is kept', task.files().get('ピョコラン.txt') == summary_file)
        check('the folder on this computer is in use again after the reload (permission kept)',
              task.wait('pyokoranPage.folderName === "real"')
              and opfs_files(task, 'real').get('ピョコラン.txt') == summary_file)
        # Where the browser asks again after a reload (a folder of the origin-private file system
        # is always allowed: the answers are stood in for), the bar names the folder and a tap
        # on it asks.
        script = page.call('Page.addScriptToEvaluateOnNewDocument', source=(
            'FileSystemHandle.prototype.queryPermission = async () => "prompt";'
            'FileSystemHandle.prototype.requestPermission = async () => { window.permissionAsked = true; return "granted"; };'))
        check('after a reload that needs permission, the bar asks for the folder', task.open() and task.wait(
            'document.getElementById("folder-again").textContent === "フォルダ「real」を使い続ける（許可する）"'
            ' && !document.getElementById("folder-again").hidden && !pyokoranPage.folderName'))
        task.evaluate('document.getElementById("folder-again").click(); true')
        check('a tap on it asks and uses the folder again', task.wait_dialog('message')
              and '「real」を使います' in task.message_text() and task.evaluate('window.permissionAsked === true')
              and task.evaluate('document.getElementById("folder-again").hidden'))
        task.enter()
        page.call('Page.removeScriptToEvaluateOnNewDocument', identifier=script['identifier'])

        # Exit: the program ends and the page says so.
        task.evaluate('document.querySelector("[data-command=\\"40001\\"]").click(); true')
        check('Exit ends the program', task.wait('pyokoranPage.exited === 0'))
        task.shot('exited')
    finally:
        if page:
            page.close()
        if server:
            server.kill()
            server.wait()
        shutil.rmtree(work, ignore_errors=True)
    print('PASS' if not failures else '%d failed' % len(failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
