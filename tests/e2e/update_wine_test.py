#!/usr/bin/env python3
"""End-to-end runs of update.exe under Wine, walked by the UI driver: the
exact sequence of message boxes (caption and text bytes, buttons and owner as
the driver sees them, and the TQ_UI_LOG file), the files afterwards, and what
the splash window and the progress dialog show on the screen.

Needs WINEPREFIX (a prefix whose wineserver runs), DISPLAY (Xvfb) and the
Japanese locale (code page 932); scripts/test's Wine stage provides them.

usage: update_wine_test.py UPDATE.EXE UIDRIVER.EXE MAKE_HG3.EXE FIXTURES [unittest args]
       update_wine_test.py --list      the scenario names, one a line
"""
import os
import queue
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_common import (CANCELLED, FAILED, JP, REFUSED, box, check_blocked_package_changed_nothing,  # noqa: E402
                        check_nested_package_copied, description, intoro_shown, put_blocked_package,
                        put_nested_package, sjis)

UPDATE = UIDRIVER = MAKE_HG3 = FIXTURES = None
# The Wine loader of the build under test: /usr/lib/wine/wine64 for the
# 64-bit build (/usr/bin/wine would pick the 32-bit loader).
WINE = os.environ.get('TQ_WINE', 'wine')
OK, CANCEL = 1, 2
COMMAND_TIMEOUT = 40  # seconds for any one driver command
DRIVER_DEADLINE_MS = 120000  # the driver's own watchdog


def win(path):
    """A Unix path as Wine's Z: drive shows it."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


class Window:
    """One "window ..." line of the driver."""

    def __init__(self, line):
        fields = dict(f.split('=', 1) for f in line.split()[2:] if '=' in f)
        self.fields = fields
        self.hwnd = fields['hwnd']
        self.cls = fields['class']
        self.caption = bytes.fromhex(fields['caption'])
        self.text = bytes.fromhex(fields['text'])
        self.buttons = fields['buttons']
        self.owner = fields['owner']
        self.owner_class = fields['owner_class']
        self.rect = tuple(int(v) for v in fields['rect'].split(','))

    def seen(self):
        return (self.caption, self.text, self.buttons, self.owner_class)


class Driver:
    """The UI driver, fed one command a line; every answer is checked."""

    def __init__(self, env, stderr_path):
        self.stderr = open(stderr_path, 'wb')
        self.process = subprocess.Popen(
            [WINE, UIDRIVER, '--deadline', str(DRIVER_DEADLINE_MS)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr, env=env)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.decode('latin-1').rstrip('\r\n'))
        self.lines.put(None)

    def ask(self, *fields, check=True):
        self.process.stdin.write(('\t'.join(str(f) for f in fields) + '\n').encode())
        self.process.stdin.flush()
        try:
            line = self.lines.get(timeout=COMMAND_TIMEOUT)
        except queue.Empty:
            raise AssertionError(f'driver: no answer to {fields}')
        if line is None:
            raise AssertionError(f'driver ended during {fields}')
        if check and not line.startswith('ok'):
            raise AssertionError(f'driver: {fields} -> {line}')
        return line

    def window_list(self, *fields):
        """Lines of `list`, up to its closing "ok N"."""
        self.process.stdin.write(('\t'.join(('list',) + fields) + '\n').encode())
        self.process.stdin.flush()
        found = []
        while True:
            line = self.lines.get(timeout=COMMAND_TIMEOUT)
            if line is None or line.startswith('ok') or line.startswith('error'):
                return found
            found.append(Window('ok ' + line))

    def close(self):
        try:
            self.process.stdin.write(b'quit\n')
            self.process.stdin.close()
            self.process.wait(timeout=15)
        except Exception:
            self.process.kill()
            self.process.wait()
        self.stderr.close()


class Expect:
    """A message box the flow must show: caption and text as str."""

    def __init__(self, caption, text, answer=OK, owner='none', buttons='1'):
        self.caption, self.text, self.answer = caption, text, answer
        self.owner, self.buttons = owner, buttons

    def seen(self):
        owner = {'none': '-', 'main': 'WC_UPDATE', 'dialog': '#32770'}[self.owner]
        return (sjis(self.caption), sjis(self.text), self.buttons, owner)

    def log(self):
        return box(self.caption, self.text, 'OK' if self.answer == OK else 'Cancel')


def confirm(answer=OK):
    return Expect(JP['wndtitle'], intoro_shown(), answer, 'main', '1,2')


def read_bmp(path):
    """24-bit bottom-up BMP -> (width, height, pixel(x, y) -> (r, g, b))."""
    with open(path, 'rb') as f:
        data = f.read()
    offset, = struct.unpack_from('<I', data, 10)
    width, height, _, bits = struct.unpack_from('<iiHH', data, 18)
    assert bits == 24 and height > 0, (bits, height)
    pitch = (width * 3 + 3) & ~3

    def pixel(x, y):
        o = offset + (height - 1 - y) * pitch + 3 * x
        return (data[o + 2], data[o + 1], data[o])
    return width, height, pixel


class Scenario(unittest.TestCase):
    def setUp(self):
        name = self._testMethodName[5:]
        self.root = tempfile.mkdtemp(prefix='tq-wine-e2e-')
        # Unique per test: the record's folder and the mutex names, since the
        # prefix and its named objects are shared by every test run.
        tag = f'{name[:24]}_{os.getpid()}'
        self.brand = f'TqE2E_{tag}'
        self.mutex = f'TQ_E2E_{tag}'
        self.records = os.path.join(os.environ['WINEPREFIX'], 'drive_c', 'ProgramData', self.brand)
        self.game = os.path.join(self.root, 'game')
        self.package = os.path.join(self.root, 'package')
        os.makedirs(os.path.join(self.game, 'config'))
        os.makedirs(os.path.join(self.package, 'data'))
        self.log = os.path.join(self.root, 'ui.log')
        env = dict(os.environ, TQ_UI_LOG=win(self.log), WINEDEBUG='-all')
        self.driver = Driver(env, os.path.join(self.root, 'driver.err'))
        self.runs = 0

    def tearDown(self):
        self.driver.close()
        shutil.rmtree(self.records, ignore_errors=True)
        # TQ_E2E_KEEP=1 keeps the folders (screenshots, logs) for a look.
        if os.environ.get('TQ_E2E_KEEP'):
            print(f'kept {self.root}', file=sys.stderr)
        else:
            shutil.rmtree(self.root, ignore_errors=True)

    # -- layout
    def describe(self, **kw):
        kw.setdefault('brand', self.brand)
        kw.setdefault('mutex', self.mutex)
        with open(os.path.join(self.package, 'updateinfo.xml'), 'wb') as f:
            f.write(description(**kw))

    def record(self):
        os.makedirs(self.records, exist_ok=True)
        with open(os.path.join(self.records, 'e2egame.xml'), 'wb') as f:
            f.write(sjis(f'<?xml version="1.0"?>\r\n<document><path>{win(self.game)}</path></document>\r\n'))

    def installed(self, major, minor):
        self.put(self.game, 'config\\startup.xml',
                 sjis(f'<?xml version="1.0"?>\r\n<document><VERSION><major>{major}</major>'
                      f'<minor>{minor}</minor></VERSION></document>\r\n'))

    def put(self, base, relative, content):
        path = os.path.join(base, *relative.split('\\'))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(content)
        return path

    def read(self, relative):
        with open(os.path.join(self.game, *relative.split('\\')), 'rb') as f:
            return f.read()

    def fixture(self, name):
        with open(os.path.join(FIXTURES, name), 'rb') as f:
            return f.read()

    def ui_log(self):
        if not os.path.exists(self.log):
            return b''
        with open(self.log, 'rb') as f:
            return f.read()

    # -- runs
    def start(self):
        """Starts update.exe in the package folder; returns its driver index."""
        line = self.driver.ask('start', win(self.package), win(UPDATE))
        self.runs += 1
        return int(line.split('proc=')[1].split()[0])

    def finish(self, proc, status=0):
        line = self.driver.ask('exit', f'proc={proc}', 'timeout=30000', check=False)
        if not line.startswith('ok'):
            left = [(w.cls, w.caption, w.text) for w in self.driver.window_list(f'proc={proc}')]
            self.fail(f'update.exe did not end ({line}); its windows: {left}')
        self.assertEqual(line, f'ok code={status}')

    def next_box(self, proc, answer):
        """Waits for the program's next message box and answers it."""
        line = self.driver.ask('box', f'proc={proc}', 'kind=box', f'press={answer}', check=False)
        if not line.startswith('ok'):
            raise AssertionError(line)
        return Window(line)

    def walk(self, expected, check_log=True, status=0):
        """One run of update.exe, answering each expected box; asserts the
        sequence the driver saw, the UI log and the exit code."""
        if os.path.exists(self.log):
            os.remove(self.log)
        proc = self.start()
        seen = [self.next_box(proc, e.answer) for e in expected]
        self.finish(proc, status)
        self.assertEqual([w.seen() for w in seen], [e.seen() for e in expected])
        if check_log:
            self.assertEqual(self.ui_log(), b''.join(e.log() for e in expected))
        return seen

    # -- scenarios
    def test_success_with_nested_files_merges_install_log(self):
        self.describe()
        self.record()
        self.installed(1, 2)
        put_nested_package(self)
        proc = self.start()
        # Without updatebg.hg3 the window still appears, at a fixed size.
        main = Window(self.driver.ask('wait', f'proc={proc}', 'class=WC_UPDATE'))
        self.assertEqual(main.caption, sjis(JP['wndtitle']))
        client = self.driver.ask('rect', main.hwnd).split('client=')[1]
        left, top, right, bottom = (int(v) for v in client.split(','))
        self.assertEqual((right - left, bottom - top), (480, 270))
        first = self.next_box(proc, OK)
        self.assertEqual(first.owner, main.hwnd)
        # The intoro's backslash-n is a line break in the box.
        self.assertEqual(first.text, sjis('更新を始めます。\nよろしいですか？'))
        last = Window(self.driver.ask('wait', f'proc={proc}', 'kind=box'))
        # The final box belongs to the (now hidden) progress dialog.
        self.assertEqual(self.driver.ask('item', last.owner, '1005'),
                         'ok text=' + sjis(JP['copying']).hex())
        self.driver.ask('press', last.hwnd, OK)
        self.finish(proc)
        self.assertEqual([first.seen(), last.seen()],
                         [confirm().seen(), Expect(JP['wndtitle'], JP['success'], owner='dialog').seen()])
        self.assertEqual(self.ui_log(), box(JP['wndtitle'], intoro_shown(), 'OK') +
                         box(JP['wndtitle'], JP['success'], 'OK'))
        check_nested_package_copied(self)

    def test_cancel_touches_nothing(self):
        self.describe()
        self.installed(1, 2)  # no record: a lookup would show error_inst
        self.put(self.package, 'data\\a.txt', b'new')
        self.walk([confirm(CANCEL)], status=CANCELLED)
        self.assertEqual(sorted(os.listdir(self.game)), ['config'])

    def test_no_record_file(self):
        self.describe()
        self.installed(1, 2)
        self.put(self.package, 'data\\a.txt', b'new')
        self.walk([confirm(), Expect(JP['wndtitle'], JP['error_inst'], owner='main')], status=REFUSED)
        self.assertEqual(sorted(os.listdir(self.game)), ['config'])

    def test_older_minor_is_refused_and_equal_passes(self):
        self.describe(major='1', minor='3')
        self.record()
        self.installed(1, 2)
        self.put(self.package, 'data\\a.txt', b'new')
        self.walk([confirm(), Expect(JP['title'], JP['error_version'], owner='main')], status=REFUSED)
        self.assertEqual(sorted(os.listdir(self.game)), ['config'])
        self.installed(1, 3)
        self.walk([confirm(), Expect(JP['wndtitle'], JP['success'], owner='dialog')])
        self.assertEqual(self.read('a.txt'), b'new')

    def test_game_or_tool_running_stops_before_the_window(self):
        # Either mutex held by another process (here the driver), or its name
        # taken by an object of another kind, stops the updater with
        # error_boot before any window exists.
        for held, kind in (('game', 'mutex'), ('tool', 'mutex'), ('game', 'event')):
            with self.subTest(held=held, kind=kind):
                mutex = f'{self.mutex}_{held}_{kind}'
                self.describe(mutex=mutex)
                name = mutex if held == 'game' else mutex + '_CONF'
                self.assertEqual(self.driver.ask(kind, name), 'ok existed=0')
                if os.path.exists(self.log):
                    os.remove(self.log)
                proc = self.start()
                shown = Window(self.driver.ask('wait', f'proc={proc}', 'kind=box'))
                self.assertEqual(self.driver.window_list(f'proc={proc}', 'class=WC_UPDATE'), [])
                self.driver.ask('press', shown.hwnd, OK)
                self.finish(proc, REFUSED)
                self.assertEqual(shown.seen(), Expect(JP['wndtitle'], JP['boot']).seen())
                self.assertEqual(self.ui_log(), box(JP['wndtitle'], JP['boot'], 'OK'))

    def test_second_updater_while_the_first_asks(self):
        self.describe()
        first = self.start()
        question = Window(self.driver.ask('wait', f'proc={first}', 'kind=box'))
        self.assertEqual(question.seen(), confirm().seen())
        second = self.start()
        refused = Window(self.driver.ask('wait', f'proc={second}', 'kind=box'))
        self.assertEqual(self.driver.window_list(f'proc={second}', 'class=WC_UPDATE'), [])
        self.driver.ask('press', refused.hwnd, OK)
        self.finish(second, REFUSED)
        self.assertEqual(refused.seen(), Expect(JP['wndtitle'], JP['boot']).seen())
        self.driver.ask('press', question.hwnd, CANCEL)
        self.finish(first, CANCELLED)
        self.assertEqual(self.ui_log(), box(JP['wndtitle'], JP['boot'], 'OK') +
                         box(JP['wndtitle'], intoro_shown(), 'Cancel'))

    def test_empty_data_folder_still_writes_the_log(self):
        self.describe()
        self.record()
        self.installed(1, 1)
        os.makedirs(os.path.join(self.package, 'data', 'empty'))
        self.put(self.game, 'install.log', b'"b.txt"\n"a.txt"\n')
        self.walk([confirm(), Expect(JP['wndtitle'], JP['success'], owner='dialog')])
        self.assertEqual(self.read('install.log'), b'"a.txt"\r\n"b.txt"\r\n')
        self.assertFalse(os.path.exists(os.path.join(self.game, 'empty')))

    def test_missing_description(self):
        self.walk([Expect('error', 'updateinfo.xml was not found.')], status=REFUSED)

    def test_description_without_languages(self):
        self.describe(languages=False)
        self.walk([Expect('error', '')], status=REFUSED)

    def test_failed_copy_shows_both_boxes_and_changes_nothing(self):
        put_blocked_package(self)
        source = win(os.path.join(self.package, 'data', 'blocked.txt'))
        self.walk([confirm(),
                   Expect(JP['title'], f'ファイル [{source}] がオープン出来ません', owner='dialog'),
                   Expect(JP['wndtitle'], JP['error_copy'], owner='dialog')], status=FAILED)
        self.assertEqual(os.listdir(os.path.join(self.game, 'blocked.txt')), [])
        check_blocked_package_changed_nothing(self)

    def test_package_without_data_folder_copies_nothing(self):
        self.describe()
        self.record()
        self.installed(1, 1)
        os.rmdir(os.path.join(self.package, 'data'))
        self.walk([confirm(), Expect(JP['wndtitle'], JP['error_copy'], owner='main')], status=REFUSED)
        self.assertEqual(sorted(os.listdir(self.game)), ['config'])

    def test_newer_installed_programs_are_kept(self):
        self.describe()
        self.record()
        self.installed(1, 1)
        # Installed: a newer game.exe, an older engine.dll; the package has
        # the opposite.
        self.put(self.game, 'game.exe', self.fixture('v2000.dll'))
        self.put(self.game, 'system\\engine.dll', self.fixture('v1000.dll'))
        self.put(self.package, 'data\\game.exe', self.fixture('v1000.dll'))
        self.put(self.package, 'data\\system\\engine.dll', self.fixture('v2001.dll'))
        self.put(self.package, 'data\\notes.txt', b'notes')
        self.walk([confirm(), Expect(JP['wndtitle'], JP['success'], owner='dialog')])
        self.assertEqual(self.read('game.exe'), self.fixture('v2000.dll'))
        self.assertEqual(self.read('system\\engine.dll'), self.fixture('v2001.dll'))
        self.assertEqual(self.read('notes.txt'), b'notes')
        self.assertEqual(self.read('install.log'),
                         b'"game.exe"\r\n"notes.txt"\r\n"system\\engine.dll"\r\n')

    def snapshot(self):
        tree = {}
        for folder, _, files in os.walk(self.game):
            for name in files:
                with open(os.path.join(folder, name), 'rb') as f:
                    tree[os.path.relpath(os.path.join(folder, name), self.game)] = f.read()
        return tree

    def safe_package(self):
        self.describe()
        self.record()
        self.installed(1, 1)
        self.put(self.game, 'install.log', b'"a.txt"\r\n')
        for name in ('a.txt', 'held.dat', 'sub\\c.txt'):
            self.put(self.package, 'data\\' + name, b'new ' + name.encode())
        self.put(self.game, 'a.txt', b'old a')
        return self.put(self.game, 'held.dat', b'old held')

    def test_file_held_by_another_program_is_refused(self):
        held = self.safe_package()
        before = self.snapshot()
        self.assertEqual(self.driver.ask('hold', win(held)), 'ok')
        sharing = bytes.fromhex(self.driver.ask('errtext', '32').split('text=')[1]).decode('cp932')
        self.assertTrue(sharing)
        self.walk([confirm(), Expect(JP['title'], sharing + '\n' + win(held), owner='dialog'),
                   Expect(JP['wndtitle'], JP['error_copy'], owner='dialog')], status=FAILED)
        self.assertEqual(self.snapshot(), before)
        self.assertEqual(sorted(os.listdir(self.game)), ['a.txt', 'config', 'held.dat', 'install.log'])

    def test_failure_in_the_middle_of_the_copy_changes_nothing(self):
        self.safe_package()
        before = self.snapshot()
        write_fault = bytes.fromhex(self.driver.ask('errtext', '29').split('text=')[1]).decode('cp932')
        self.assertEqual(self.driver.ask('setenv', 'TQ_TEST_IO_FAULT', 'write:2'), 'ok')
        self.walk([confirm(), Expect(JP['title'], write_fault, owner='dialog'),
                   Expect(JP['wndtitle'], JP['error_copy'], owner='dialog')], status=FAILED)
        self.assertEqual(self.snapshot(), before)
        self.assertEqual(sorted(os.listdir(self.game)), ['a.txt', 'config', 'held.dat', 'install.log'])

    def test_package_made_by_tqpatch_brings_the_new_release(self):
        # tqpatch.exe of the same build makes the package from two releases
        # with Japanese names; update.exe then brings the old one to the new.
        tool = os.path.join(os.path.dirname(UPDATE), '..', 'tools', 'tqpatch', 'tqpatch.exe')
        if not os.path.exists(tool):
            self.skipTest('tqpatch.exe is not built')
        old, new = os.path.join(self.root, 'old'), os.path.join(self.root, 'new')
        for tree, version, text in ((old, 0, '古い'), (new, 1, '新しい')):
            self.put(tree, 'config\\startup.xml',
                     sjis(f'<?xml version="1.0"?>\r\n<document><VERSION><major>1</major>'
                          f'<minor>{version}</minor></VERSION></document>\r\n'))
            self.put(tree, '台本\\第一章.txt', sjis(text))
        self.put(new, 'data\\追加.bin', bytes(range(256)) * 64)
        shutil.rmtree(self.game)
        shutil.copytree(old, self.game)
        self.record()
        shutil.rmtree(self.package)
        done = subprocess.run([WINE, tool, 'make', win(old), win(new), win(self.package), '--brand', self.brand,
                               '--app', 'e2egame', '--install-path', win(self.game), '--mutex', self.mutex,
                               '--config-mutex', self.mutex + '_CONF', '--title', 'テスト', '--languages', 'jp'],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr.decode('cp932', errors='replace'))
        done = subprocess.run([WINE, tool, 'check', win(self.package)], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr.decode('cp932', errors='replace'))
        title = 'テスト アップデート'
        self.walk([Expect(title, 'テスト を更新します。\nよろしいですか？', OK, 'main', '1,2'),
                   Expect(title, 'アップデートが完了しました。', owner='dialog')])
        for relative in ('config\\startup.xml', '台本\\第一章.txt', 'data\\追加.bin'):
            with open(os.path.join(new, *relative.split('\\')), 'rb') as f:
                self.assertEqual(self.read(relative), f.read(), relative)
        self.assertEqual(self.read('install.log'), sjis('"config\\startup.xml"\r\n"data\\追加.bin"\r\n'
                                                        '"台本\\第一章.txt"\r\n'))

    def test_splash_shows_the_picture_and_the_progress_text(self):
        picture = os.path.join(self.package, 'updatebg.hg3')
        shown = os.path.join(self.root, 'shown.bmp')
        subprocess.run([WINE, MAKE_HG3, 'test', win(picture), win(shown)], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=60)
        width, height, expected = read_bmp(shown)
        self.describe()
        self.record()
        self.installed(1, 1)
        self.put(self.package, 'data\\a.txt', b'a')
        self.put(self.package, 'data\\blocked.txt', b'b')
        os.makedirs(os.path.join(self.game, 'blocked.txt'))  # holds the dialog up
        proc = self.start()
        main = Window(self.driver.ask('wait', f'proc={proc}', 'class=WC_UPDATE'))

        # The window's client area is the picture, centred on the screen.
        screen_w, screen_h = (int(v) for v in self.driver.ask('screen').split()[1].split('x'))
        client = self.driver.ask('rect', main.hwnd).split('client=')[1]
        left, top, right, bottom = (int(v) for v in client.split(','))
        self.assertEqual((right - left, bottom - top), (width, height))
        self.assertLessEqual(abs(left - (screen_w - width) // 2), 1)
        self.assertLessEqual(abs(top - (screen_h - height) // 2), 1)

        # Points in every quadrant, the transparent band (white on the
        # screen) and the half-transparent block: the picture is upright,
        # its colours in order, its alpha flattened onto white.
        points = [(x, y) for y in (5, 20, 45, 80, 120, 160, 200, 240, 290)
                  for x in (5, 50, 150, 199, 200, 260, 330, 395)]
        question = Window(self.driver.ask('wait', f'proc={proc}', 'kind=box'))
        self.assert_shows_picture(main.hwnd, points, expected, minimum=40)
        self.driver.ask('shot', main.hwnd, win(os.path.join(self.root, 'splash.bmp')))
        self.driver.ask('press', question.hwnd, OK)

        # The engine's error box, owned by the progress dialog, keeps the
        # dialog up; moved aside, it uncovers the dialog and its text.
        error = Window(self.driver.ask('wait', f'proc={proc}', 'kind=box'))
        self.assertEqual(error.caption, sjis(JP['title']))
        self.assertEqual(error.owner_class, '#32770')
        dialog = error.owner
        self.assertEqual(self.driver.ask('item', dialog, '1005'), 'ok text=' + sjis(JP['copying']).hex())
        self.driver.ask('move', error.hwnd, 0, 0)
        dialog_rect = [int(v) for v in self.driver.ask('rect', dialog).split('window=')[1].split()[0].split(',')]
        # Centred on the main window.
        main_rect = [int(v) for v in self.driver.ask('rect', main.hwnd).split('window=')[1].split()[0].split(',')]
        self.assertLessEqual(abs((dialog_rect[0] + dialog_rect[2]) - (main_rect[0] + main_rect[2])), 2)
        self.assertLessEqual(abs((dialog_rect[1] + dialog_rect[3]) - (main_rect[1] + main_rect[3])), 2)
        self.assert_dialog_shows_text(dialog)
        # The picture was drawn again where the confirmation had covered it.
        self.assert_shows_picture(main.hwnd, points, expected, minimum=40)
        self.driver.ask('press', error.hwnd, OK)
        final = self.next_box(proc, OK)
        self.finish(proc, FAILED)
        self.assertEqual(final.seen(), Expect(JP['wndtitle'], JP['error_copy'], owner='dialog').seen())

    def assert_shows_picture(self, hwnd, points, expected, minimum):
        """The screen shows the picture at every uncovered point (retried
        for a moment while a repaint may be pending)."""
        deadline = time.time() + 5
        while True:
            answer = self.driver.ask('pixels', hwnd, *(f'{x},{y}' for x, y in points)).split()[1:]
            shown = [(p, a) for p, a in zip(points, answer) if a != 'covered']
            wrong = [(p, a, '%02x%02x%02x' % expected(*p)) for p, a in shown
                     if max(abs(int(a[i:i + 2], 16) - c) for i, c in zip((0, 2, 4), expected(*p))) > 2]
            if not wrong and len(shown) >= minimum:
                return
            if time.time() > deadline:
                self.fail(f'{len(shown)} points visible; wrong (point, shown, picture): {wrong[:8]}')
            time.sleep(0.1)

    def assert_dialog_shows_text(self, dialog):
        """Dark glyph pixels in the middle band of the dialog, spread
        around its centre as centred text is."""
        shot = os.path.join(self.root, 'dialog.bmp')
        deadline = time.time() + 5
        while True:
            self.driver.ask('shot', dialog, win(shot), 'client')
            width, height, pixel = read_bmp(shot)
            dark = [x for y in range(height) for x in range(width) if sum(pixel(x, y)) < 200]
            if len(dark) > 100 and min(dark) < width // 2 < max(dark):
                return
            if time.time() > deadline:
                self.fail(f'the progress dialog shows {len(dark)} dark pixels')
            time.sleep(0.1)


def scenario_names():
    return [n[5:] for n in sorted(dir(Scenario)) if n.startswith('test_')]


if __name__ == '__main__':
    if sys.argv[1:2] == ['--list']:
        print('\n'.join(scenario_names()))
        sys.exit(0)
    UPDATE, UIDRIVER, MAKE_HG3, FIXTURES = (os.path.abspath(a) for a in sys.argv[1:5])
    del sys.argv[1:5]
    for needed in ('WINEPREFIX', 'DISPLAY'):
        if not os.environ.get(needed):
            sys.exit(f'update_wine_test.py: {needed} is not set (run it through scripts/test)')
    unittest.main(verbosity=2)
