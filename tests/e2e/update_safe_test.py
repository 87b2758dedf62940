#!/usr/bin/env python3
"""Fault table of the Linux updater: whatever happens during an update (a
check that fails, a full disk, a read or write error, a cancel, a kill), the
installation afterwards is byte for byte the old tree or the new one, never a
mix, and the updater's own staging, backup and journal entries are gone.

usage: update_safe_test.py PATH/TO/update [unittest args]
Mounting a small tmpfs needs root; those cases are skipped, saying so, where
mounting is refused.
"""
import fcntl
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_common import CANCELLED, FAILED, JP, box, description, intoro_shown, sjis  # noqa: E402

UPDATE = None
OWN = ('~update.stage', '~update.backup', '~update.journal', '~update.journal.tmp', '~update.done')
MiB = 1 << 20


def snapshot(root):
    """Every folder and file below root with its bytes."""
    tree = {}
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        if rel != '.':
            tree[rel + '/'] = None
        for name in files:
            with open(os.path.join(folder, name), 'rb') as f:
                tree[os.path.normpath(os.path.join(rel, name))] = f.read()
    return tree


class Game(unittest.TestCase):
    """An installation in a throw-away Wine prefix layout and a package."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix='tq-safe-')
        self.prefix = os.path.join(self.root, 'prefix')
        os.makedirs(os.path.join(self.prefix, 'dosdevices'))
        os.makedirs(os.path.join(self.prefix, 'drive_c', 'ProgramData', 'E2EBrand'))
        os.symlink('../drive_c', os.path.join(self.prefix, 'dosdevices', 'c:'))
        self.game = os.path.join(self.prefix, 'drive_c', 'Games', 'E2E')
        os.makedirs(self.game)
        self.mounted = False
        self.package = os.path.join(self.root, 'package')
        os.makedirs(os.path.join(self.package, 'data'))
        self.log = os.path.join(self.root, 'ui.log')
        self.runtime = os.path.join(self.root, 'run')
        os.makedirs(self.runtime)
        with open(os.path.join(self.package, 'updateinfo.xml'), 'wb') as f:
            f.write(description())
        with open(os.path.join(self.prefix, 'drive_c', 'ProgramData', 'E2EBrand', 'e2egame.xml'), 'wb') as f:
            f.write(b'<document><path>C:\\Games\\E2E</path></document>')

    def tearDown(self):
        if self.mounted:
            subprocess.run(['umount', '-l', self.game], check=False)
        shutil.rmtree(self.root, ignore_errors=True)

    def mount_small(self, size):
        """Puts the installation on a tmpfs of `size` bytes (skips where
        mounting is refused)."""
        done = subprocess.run(['mount', '-t', 'tmpfs', '-o', f'size={size}', 'tmpfs', self.game],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if done.returncode != 0:
            self.skipTest('a small file system cannot be mounted here (mount says: '
                          + done.stdout.decode(errors='replace').strip() + '); run as root to include it')
        self.mounted = True

    def put(self, base, relative, content):
        path = os.path.join(base, *relative.split('\\'))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(content)
        return path

    def old_and_new(self, files=6, size=3000, log=b'"old.txt"\r\n"a0.bin"\r\n'):
        """An installed game and a package that replaces some files, adds
        others (one in a new folder) and rewrites install.log; returns the
        two expected trees."""
        os.makedirs(os.path.join(self.game, 'config'), exist_ok=True)
        self.put(self.game, 'config\\startup.xml', b'<major>1</major><minor>1</minor>')
        self.put(self.game, 'old.txt', b'old only')
        self.put(self.game, 'install.log', log)
        names = []
        for i in range(files):
            name = f'a{i}.bin' if i % 2 == 0 else f'new\\deep\\b{i}.bin'
            names.append(name)
            self.put(self.package, 'data\\' + name, bytes([i]) * (size + i))
            if i % 2 == 0:
                self.put(self.game, name, b'installed ' + name.encode())
        old = snapshot(self.game)
        entries = sorted(set(['"old.txt"', '"a0.bin"'] + [f'"{n}"' for n in names]), key=str.lower)
        new = dict(old)
        for name in names:
            new[os.path.normpath(name.replace('\\', '/'))] = bytes([names.index(name)]) * (size + names.index(name))
        new['new/'] = new['new/deep/'] = None
        new['install.log'] = ''.join(e + '\r\n' for e in entries).encode()
        return old, new

    def env(self, **extra):
        env = dict(os.environ, WINEPREFIX=self.prefix, XDG_RUNTIME_DIR=self.runtime, LANG='ja_JP.UTF-8')
        env.pop('LC_ALL', None)
        env.update(extra)
        return env

    def start(self, **extra):
        return subprocess.Popen([UPDATE, '--yes', '--ui-log', self.log], cwd=self.package, env=self.env(**extra),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def run_update(self, status=0, **extra):
        proc = self.start(**extra)
        out, err = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, status, err.decode(errors='replace'))
        return out

    def stopped(self, proc):
        """Waits until a test point has stopped the process (SIGSTOP)."""
        deadline = time.time() + 60
        while time.time() < deadline:
            with open(f'/proc/{proc.pid}/stat') as f:
                if f.read().rsplit(')', 1)[1].split()[0] == 'T':
                    return
            if proc.poll() is not None:
                self.fail(f'the updater ended ({proc.returncode}) before its test point')
            time.sleep(0.01)
        self.fail('the test point was never reached')

    def boxes(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, 'rb') as f:
            return f.read().split(b'\n')[:-1]

    def assertTree(self, expected, message=''):
        self.assertEqual(snapshot(self.game), expected, message)

    def assertOneOf(self, old, new, message=''):
        now = snapshot(self.game)
        self.assertTrue(now == old or now == new,
                        f'{message}: a mix of trees: {sorted(k for k in now if now.get(k) != new.get(k))}')


class Checks(Game):
    """Refused by the checks: the cause's box, error_copy, status 5, and not
    one byte changed."""

    def refused(self, old, cause):
        self.run_update(status=FAILED)
        self.assertTree(old)
        shown = self.boxes()
        self.assertEqual(len(shown), 3, shown)
        self.assertIn(cause, shown[1])
        self.assertEqual(shown[2] + b'\n', box(JP['wndtitle'], JP['error_copy'], 'OK'))

    def test_each_check_refuses_before_writing(self):
        too_long = 'p' * (259 - len('C:\\Games\\E2E\\'))
        cases = [
            # (what, how to break the installation or package, text in the cause box)
            ('read-only destination', lambda: os.chmod(os.path.join(self.game, 'a2.bin'), 0o444),
             'がオープン出来ません'.encode('cp932')),
            ('read-only install.log', lambda: os.chmod(os.path.join(self.game, 'install.log'), 0o444),
             b'install.log'),
            ('folder in place of a file', lambda: os.makedirs(os.path.join(self.game, 'new', 'deep', 'b1.bin')),
             b'b1.bin'),
            ('file in place of a folder', lambda: self.put(self.game, 'new', b'a file'), b'new'),
            ('destination path of 260 bytes', lambda: self.put(self.package, 'data\\' + too_long, b'x'),
             too_long.encode()),
            ('reserved name in the package', lambda: self.put(self.package, 'data\\~update.stage\\1', b'x'),
             b'~update.stage'),
        ]
        for what, breakage, cause in cases:
            with self.subTest(what):
                self.tearDown()
                self.setUp()
                self.old_and_new()
                breakage()
                self.refused(snapshot(self.game), cause)

    def test_unreadable_old_log_is_kept_byte_for_byte(self):
        for what, log in (('NUL byte', b'"a.txt"\r\n"b\x00.txt"\r\n"c.txt"\r\n'),
                          ('CR-only line ends', b'"a.txt"\r"b.txt"\r"c.txt"\r'),
                          ('UTF-16', '"a.txt"\r\n"b.txt"\r\n'.encode('utf-16')),
                          ('line of 260 bytes', b'"' + b'x' * 258 + b'"\r\n')):
            with self.subTest(what):
                self.tearDown()
                self.setUp()
                old, _ = self.old_and_new(log=log)
                self.refused(old, b'install.log')

    def test_file_held_by_another_program(self):
        old, _ = self.old_and_new()
        with open(os.path.join(self.game, 'a4.bin'), 'rb+') as held:
            fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
            self.refused(old, b'a4.bin')

    def test_disk_full_before_the_copy(self):
        self.mount_small(2 * MiB)
        old, _ = self.old_and_new(files=4, size=700 * 1024)
        self.refused(old, b'C:\\\\Games\\\\E2E')

    def test_dry_run_prints_the_plan_and_writes_nothing(self):
        old, _ = self.old_and_new()
        out = self.run_update().decode()
        self.assertTree(old)
        self.assertIn('replace  a2.bin 3002', out)
        self.assertIn('new      new\\deep\\b1.bin 3001', out)
        self.assertIn('folder   new\\deep', out)
        for check in ('paths', 'sources', 'destinations', 'space'):
            self.assertIn(f'check {check}: ok', out)

    def run_update(self, status=0, **extra):
        if self._testMethodName.startswith('test_dry_run'):
            proc = subprocess.Popen([UPDATE, '--yes', '--dry-run'], cwd=self.package, env=self.env(),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            out, err = proc.communicate(timeout=60)
            self.assertEqual(proc.returncode, status, err.decode(errors='replace'))
            return out
        return super().run_update(status, **extra)


class Faults(Game):
    """Faults after the checks passed: the old tree, status 5 or 4."""

    def test_write_and_read_failures_at_the_kth_file(self):
        for fault in ('write:1', 'write:2', 'write:6', 'read:1', 'read:4'):
            with self.subTest(fault):
                self.tearDown()
                self.setUp()
                old, _ = self.old_and_new()
                self.run_update(status=FAILED, TQ_TEST_IO_FAULT=fault)
                self.assertTree(old)
                cause = '指定されたデバイスに書き込めません。' if fault.startswith('write') else \
                    '指定されたデバイスから読み取れません。'
                self.assertEqual(self.boxes()[1:], [box(JP['title'], cause, 'OK')[:-1],
                                                     box(JP['wndtitle'], JP['error_copy'], 'OK')[:-1]])

    def test_disk_full_during_the_copy(self):
        self.mount_small(8 * MiB)
        old, _ = self.old_and_new(files=4, size=MiB)
        proc = self.start(TQ_TEST_POINT='checked:stop')
        self.stopped(proc)
        # The space is taken away after the checks passed.
        filler = os.path.join(self.root, 'filler')
        subprocess.run(['dd', 'if=/dev/zero', f'of={os.path.join(self.game, "filler")}', 'bs=1M'],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        proc.send_signal(signal.SIGCONT)
        proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, FAILED)
        os.remove(os.path.join(self.game, 'filler'))
        self.assertTree(old)
        self.assertFalse(os.path.exists(filler))

    def test_cancel_at_several_points(self):
        for point in ('checked', 'copy:1', 'copy:3', 'staged'):
            with self.subTest(point):
                self.tearDown()
                self.setUp()
                old, _ = self.old_and_new(size=3 * MiB)
                proc = self.start(TQ_TEST_POINT=point + ':stop')
                self.stopped(proc)
                proc.send_signal(signal.SIGTERM)
                proc.send_signal(signal.SIGCONT)
                proc.communicate(timeout=60)
                self.assertEqual(proc.returncode, CANCELLED)
                self.assertTree(old)


class Kills(Game):
    """kill -9 anywhere: between runs the old or the new tree (once the
    journal is repaired), after a second run the new one."""

    def test_kill_during_the_swap_and_during_the_repair(self):
        # Six files, then install.log: swap steps 0..6.
        for swap, repair in ((0, None), (1, None), (4, None), (6, None), ('journal', None), ('commit', None),
                             (3, 2), (6, 0)):
            with self.subTest(swap=swap, repair=repair):
                self.tearDown()
                self.setUp()
                old, new = self.old_and_new()
                point = f'swap:{swap}:kill' if isinstance(swap, int) else f'{swap}:kill'
                proc = self.start(TQ_TEST_POINT=point)
                proc.communicate(timeout=60)
                self.assertEqual(proc.returncode, -signal.SIGKILL)
                if repair is not None:
                    # The next start is killed in the middle of its repair.
                    proc = self.start(TQ_TEST_POINT=f'repair:{repair}:kill')
                    proc.communicate(timeout=60)
                    self.assertEqual(proc.returncode, -signal.SIGKILL)
                # A dry run repairs nothing; a normal run repairs, then updates.
                self.run_update()
                self.assertTree(new)

    def test_repair_alone_gives_one_consistent_tree(self):
        for swap in (0, 3, 6):
            with self.subTest(swap=swap):
                self.tearDown()
                self.setUp()
                old, new = self.old_and_new()
                self.start(TQ_TEST_POINT=f'swap:{swap}:kill').communicate(timeout=60)
                # Repair, then stop at the checks of the new run and end it:
                # the repaired tree is the old one, the journal gone.
                proc = self.start(TQ_TEST_POINT='checked:kill')
                proc.communicate(timeout=60)
                self.assertTree(old)

    def test_random_kills_during_a_large_copy(self):
        # 40 files of 5 MiB; six kills (TQ_SAFE_KILLS=20 for the full count) keep the
        # whole fault table under a minute and a half on two shared cores.
        kills = int(os.environ.get('TQ_SAFE_KILLS', '6'))
        rng = random.Random(15)
        for i in range(40):
            self.put(self.package, f'data\\pak\\p{i:02}.pak', bytes([i]) * (5 * MiB))
        os.makedirs(os.path.join(self.game, 'config'))
        self.put(self.game, 'config\\startup.xml', b'<major>1</major><minor>1</minor>')
        self.put(self.game, 'install.log', b'"pak\\p00.pak"\r\n')
        for i in range(0, 40, 3):
            self.put(self.game, f'pak\\p{i:02}.pak', b'old pak')
        old = snapshot(self.game)
        start = time.time()
        self.run_update()
        full = time.time() - start
        new = snapshot(self.game)
        for n in range(kills):
            shutil.rmtree(self.game)
            os.makedirs(self.game)
            for rel, content in old.items():
                if content is None:
                    os.makedirs(os.path.join(self.game, rel), exist_ok=True)
                else:
                    self.put(self.game, rel.replace('/', '\\'), content)
            proc = self.start()
            time.sleep(rng.uniform(0.05, full))
            proc.kill()
            proc.communicate(timeout=60)
            own = [e for e in OWN if os.path.exists(os.path.join(self.game, e))]
            now = {k: v for k, v in snapshot(self.game).items() if not k.startswith(OWN)}
            if '~update.journal' not in own:
                self.assertTrue(now == old or now == new, f'kill {n}: a mix of trees')
            self.run_update()
            self.assertTree(new, f'kill {n}')


if __name__ == '__main__':
    UPDATE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
