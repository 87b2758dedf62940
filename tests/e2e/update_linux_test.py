#!/usr/bin/env python3
"""End-to-end runs of the Linux updater against a game in a throw-away Wine
prefix layout: the exact sequence of message boxes (from --ui-log) and the
files afterwards.

usage: update_linux_test.py PATH/TO/update
"""
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

UPDATE = None

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_common import (CANCELLED, FAILED, JP, REFUSED, box, check_blocked_package_changed_nothing,  # noqa: E402
                        check_nested_package_copied, description, intoro_shown, put_blocked_package,
                        put_nested_package, sjis)


class Scenario(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix='tq-e2e-')
        self.prefix = os.path.join(self.root, 'prefix')
        os.makedirs(os.path.join(self.prefix, 'dosdevices'))
        os.makedirs(os.path.join(self.prefix, 'drive_c', 'ProgramData', 'E2EBrand'))
        os.symlink('../drive_c', os.path.join(self.prefix, 'dosdevices', 'c:'))
        self.game = os.path.join(self.prefix, 'drive_c', 'Games', 'E2E')
        os.makedirs(os.path.join(self.game, 'config'))
        self.package = os.path.join(self.root, 'package')
        os.makedirs(os.path.join(self.package, 'data'))
        self.log = os.path.join(self.root, 'ui.log')
        self.runtime = os.path.join(self.root, 'run')
        os.makedirs(self.runtime)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    # -- layout helpers
    def record(self, folder='C:\\Games\\E2E'):
        with open(os.path.join(self.prefix, 'drive_c', 'ProgramData', 'E2EBrand', 'e2egame.xml'), 'wb') as f:
            f.write(sjis(f'<?xml version="1.0"?>\r\n<document><path>{folder}</path></document>\r\n'))

    def installed(self, major, minor):
        with open(os.path.join(self.game, 'config', 'startup.xml'), 'wb') as f:
            f.write(sjis(f'<?xml version="1.0"?>\r\n<document><VERSION><major>{major}</major>'
                         f'<minor>{minor}</minor></VERSION></document>\r\n'))

    def put(self, base, relative, content):
        path = os.path.join(base, *relative.split('\\'))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(content)
        return path

    def describe(self, **kw):
        with open(os.path.join(self.package, 'updateinfo.xml'), 'wb') as f:
            f.write(description(**kw))

    def run_update(self, answer='y\n', yes=False, status=0):
        env = dict(os.environ, WINEPREFIX=self.prefix, XDG_RUNTIME_DIR=self.runtime, LANG='ja_JP.UTF-8')
        env.pop('LC_ALL', None)
        args = [UPDATE, '--ui-log', self.log] + (['--yes'] if yes else [])
        done = subprocess.run(args, cwd=self.package, input=answer.encode(), env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(done.returncode, status, done.stderr.decode(errors='replace'))
        return done

    def boxes(self):
        if not os.path.exists(self.log):
            return b''
        with open(self.log, 'rb') as f:
            return f.read()

    def read(self, relative):
        with open(os.path.join(self.game, *relative.split('\\')), 'rb') as f:
            return f.read()

    # -- scenarios
    def test_success_with_nested_files_merges_install_log(self):
        self.describe()
        self.record()
        self.installed(1, 2)
        put_nested_package(self)
        self.run_update()
        self.assertEqual(self.boxes(),
                         box(JP['wndtitle'], intoro_shown(), 'OK') +
                         box(JP['wndtitle'], JP['success'], 'OK'))
        check_nested_package_copied(self)

    def test_yes_answers_the_confirmation(self):
        self.describe()
        self.record()
        self.installed(1, 1)
        self.put(self.package, 'data\\a.txt', b'a')
        self.run_update(answer='', yes=True)
        self.assertEqual(self.read('a.txt'), b'a')

    def test_cancel_touches_nothing(self):
        self.describe()
        self.installed(1, 2)  # no record: a lookup would show error_inst
        self.put(self.package, 'data\\a.txt', b'new')
        self.run_update(answer='n\n', status=CANCELLED)
        self.assertEqual(self.boxes(), box(JP['wndtitle'], intoro_shown(), 'Cancel'))
        self.assertFalse(os.path.exists(os.path.join(self.game, 'a.txt')))
        self.assertFalse(os.path.exists(os.path.join(self.game, 'install.log')))

    def test_end_of_input_means_cancel(self):
        self.describe()
        self.run_update(answer='', status=CANCELLED)
        self.assertEqual(self.boxes(), box(JP['wndtitle'], intoro_shown(), 'Cancel'))

    def test_no_record_file(self):
        self.describe()
        self.installed(1, 2)
        self.put(self.package, 'data\\a.txt', b'new')
        self.run_update(status=REFUSED)
        self.assertEqual(self.boxes(),
                         box(JP['wndtitle'], intoro_shown(), 'OK') +
                         box(JP['wndtitle'], JP['error_inst'], 'OK'))
        self.assertFalse(os.path.exists(os.path.join(self.game, 'a.txt')))

    def test_older_minor_is_refused_and_equal_passes(self):
        self.describe(major='1', minor='3')
        self.record()
        self.installed(1, 2)
        self.put(self.package, 'data\\a.txt', b'new')
        self.run_update(status=REFUSED)
        self.assertEqual(self.boxes(),
                         box(JP['wndtitle'], intoro_shown(), 'OK') +
                         box(JP['title'], JP['error_version'], 'OK'))
        self.assertFalse(os.path.exists(os.path.join(self.game, 'a.txt')))
        os.remove(self.log)
        self.installed(1, 3)
        self.run_update()
        self.assertEqual(self.read('a.txt'), b'new')

    def test_game_running_stops_before_the_window(self):
        self.describe()
        lock = os.path.join(self.runtime, 'tq-mutex-TQ_E2E_GAME')
        with open(lock, 'w') as held:
            fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
            self.run_update(status=REFUSED)
        self.assertEqual(self.boxes(), box(JP['wndtitle'], JP['boot'], 'OK'))

    def test_second_updater_while_the_first_asks(self):
        self.describe()
        env = dict(os.environ, WINEPREFIX=self.prefix, XDG_RUNTIME_DIR=self.runtime)
        first_log = os.path.join(self.root, 'first.log')
        first = subprocess.Popen([UPDATE, '--ui-log', first_log], cwd=self.package, env=env,
                                 stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
        try:
            # Wait until the first one shows its question.
            seen = b''
            while b'[y/N]' not in seen:
                chunk = first.stderr.read1(4096)
                self.assertTrue(chunk, 'the first updater ended early')
                seen += chunk
            self.run_update(status=REFUSED)
            self.assertEqual(self.boxes(), box(JP['wndtitle'], JP['boot'], 'OK'))
        finally:
            first.communicate(b'n\n', timeout=30)
        self.assertEqual(first.returncode, CANCELLED)

    def test_empty_data_folder_still_writes_the_log(self):
        self.describe()
        self.record()
        self.installed(1, 1)
        os.makedirs(os.path.join(self.package, 'data', 'empty'))
        self.put(self.game, 'install.log', b'"b.txt"\n"a.txt"\n')
        self.run_update()
        self.assertEqual(self.boxes(),
                         box(JP['wndtitle'], intoro_shown(), 'OK') +
                         box(JP['wndtitle'], JP['success'], 'OK'))
        self.assertEqual(self.read('install.log'), b'"a.txt"\r\n"b.txt"\r\n')
        self.assertFalse(os.path.exists(os.path.join(self.game, 'empty')))

    def test_missing_description(self):
        self.run_update(status=REFUSED)
        self.assertEqual(self.boxes(), box('error', 'updateinfo.xml was not found.', 'OK'))

    def test_description_without_languages(self):
        self.describe(languages=False)
        self.run_update(status=REFUSED)
        self.assertEqual(self.boxes(), box('error', '', 'OK'))

    def test_failed_copy_shows_both_boxes_and_changes_nothing(self):
        put_blocked_package(self)
        self.run_update(status=FAILED)
        log = self.boxes().split(b'\n')
        self.assertEqual(log[0] + b'\n', box(JP['wndtitle'], intoro_shown(), 'OK'))
        caption, text, answer = log[1].split(b'\t')
        self.assertEqual(caption, sjis(JP['title']))
        self.assertIn(b'blocked.txt', text)
        self.assertEqual(answer, b'OK')
        self.assertEqual(log[2] + b'\n', box(JP['wndtitle'], JP['error_copy'], 'OK'))
        self.assertEqual(log[3:], [b''])
        check_blocked_package_changed_nothing(self)

    def test_links_and_special_files_refuse_the_package_before_anything_is_written(self):
        # Each case plants one hostile entry; the update must stop after the
        # confirmation with a box naming it, and leave the game as it was.
        outside = os.path.join(self.root, 'outside')
        os.makedirs(outside)
        self.put(outside, 'secret.txt', b'secret')
        cases = [
            ('link in data', lambda: os.symlink(os.path.join(outside, 'secret.txt'),
                                                os.path.join(self.package, 'data', 'l.txt')), b'l.txt'),
            ('folder link in data', lambda: os.symlink(outside, os.path.join(self.package, 'data', 'dir')),
             b'dir'),
            ('fifo in data', lambda: os.mkfifo(os.path.join(self.package, 'data', 'pipe')), b'pipe'),
            ('installed folder is a link', lambda: (self.put(self.package, 'data\\system\\engine.dll', b'e'),
                                                    os.symlink(outside, os.path.join(self.game, 'system'))),
             b'system'),
            ('install.log is a link', lambda: os.symlink(os.path.join(outside, 'secret.txt'),
                                                         os.path.join(self.game, 'install.log')), b'install.log'),
        ]
        for label, plant, named in cases:
            with self.subTest(label):
                self.tearDown()
                self.setUp()
                os.makedirs(outside, exist_ok=True)
                self.put(outside, 'secret.txt', b'secret')
                self.describe()
                self.record()
                self.installed(1, 1)
                self.put(self.package, 'data\\a.txt', b'new')
                plant()
                before = sorted(os.listdir(self.game))
                self.run_update(yes=True, status=REFUSED)
                caption, text, _ = self.boxes().split(b'\n')[1].split(b'\t')
                self.assertEqual(caption, sjis(JP['title']))
                self.assertTrue(text.startswith(sjis(JP['error_copy'])), text)
                self.assertIn(named, text)
                self.assertEqual(sorted(os.listdir(self.game)), before)
                self.assertFalse(os.path.exists(os.path.join(self.game, 'a.txt')))
                with open(os.path.join(outside, 'secret.txt'), 'rb') as f:
                    self.assertEqual(f.read(), b'secret')

    def test_package_without_data_folder_copies_nothing(self):
        self.describe()
        self.record()
        self.installed(1, 1)
        os.rmdir(os.path.join(self.package, 'data'))
        self.run_update(status=REFUSED)
        self.assertEqual(self.boxes(),
                         box(JP['wndtitle'], intoro_shown(), 'OK') +
                         box(JP['wndtitle'], JP['error_copy'], 'OK'))
        self.assertEqual(sorted(os.listdir(self.game)), ['config'])


if __name__ == '__main__':
    UPDATE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
