#!/usr/bin/env python3
"""tqpatch against the Linux updater: packages made from two release trees
update a copy of the old release in a throw-away Wine prefix layout to the
new one; check finds each fault of a table of broken packages; plan says
what the updater will do.

usage: tqpatch_test.py PATH/TO/tqpatch PATH/TO/update [PE-FIXTURE-FOLDER]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TQPATCH = UPDATE = FIXTURES = None

MAKE_OPTIONS = ['--brand', 'E2EBrand', '--app', 'e2egame', '--install-path', 'C:\\Games\\E2E',
                '--mutex', 'TQ_E2E_PATCH', '--config-mutex', 'TQ_E2E_PATCH_CONF', '--title', 'テスト']


def write(base, relative, content):
    path = os.path.join(base, *relative.split('/'))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(content)


def startup(major, minor):
    return (f'<?xml version="1.0"?>\r\n<document><VERSION><major>{major}</major>'
            f'<minor>{minor}</minor></VERSION></document>\r\n').encode()


def files_below(root):
    out = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, 'rb') as f:
                out[os.path.relpath(path, root)] = f.read()
    return out


class Base(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix='tq-patch-')
        self.old = os.path.join(self.root, 'old')
        self.new = os.path.join(self.root, 'new')
        self.package = os.path.join(self.root, 'package')
        self.prefix = os.path.join(self.root, 'prefix')
        self.game = os.path.join(self.prefix, 'drive_c', 'Games', 'E2E')
        os.makedirs(os.path.join(self.prefix, 'dosdevices'))
        os.symlink('../drive_c', os.path.join(self.prefix, 'dosdevices', 'c:'))
        write(self.prefix, 'drive_c/ProgramData/E2EBrand/e2egame.xml',
              b'<?xml version="1.0"?>\r\n<document><path>C:\\Games\\E2E</path></document>\r\n')

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def tqpatch(self, *args, env=None):
        done = subprocess.run([TQPATCH] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=dict(os.environ, **(env or {})), timeout=120)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def make(self, *extra, expect=0):
        rc, out, err = self.tqpatch('make', self.old, self.new, self.package, *MAKE_OPTIONS, *extra)
        self.assertEqual(rc, expect, out + err)
        return out, err

    def releases(self):
        """Release 1.0 and 1.1 of a small game; 1.1 changes, adds and drops files."""
        write(self.old, 'config/startup.xml', startup(1, 0))
        write(self.old, 'readme.txt', b'1.0')
        write(self.old, 'scripts/same.txt', b'unchanged')
        write(self.old, 'scripts/gone.txt', b'dropped in 1.1')
        write(self.old, 'Data/Big.bin', bytes(range(256)) * 40000)
        write(self.old, '日本語/台詞.txt', '古い台詞'.encode('cp932'))
        write(self.new, 'config/startup.xml', startup(1, 1))
        write(self.new, 'readme.txt', b'1.1')
        write(self.new, 'scripts/same.txt', b'unchanged')
        write(self.new, 'scripts/added/deep.txt', b'new in 1.1')
        # Same size as before, one byte differs at the end.
        write(self.new, 'Data/Big.bin', bytes(range(256)) * 39999 + bytes(range(255)) + b'\0')
        write(self.new, '日本語/台詞.txt', '新しい台詞'.encode('cp932'))
        write(self.new, 'empty.dat', b'')

    def install_old(self, log=b'"config\\startup.xml"\r\n'):
        shutil.copytree(self.old, self.game)
        if log is not None:
            write(self.game, 'install.log', log)

    def run_update(self):
        runtime = os.path.join(self.root, 'run')
        os.makedirs(runtime, exist_ok=True)
        env = dict(os.environ, WINEPREFIX=self.prefix, XDG_RUNTIME_DIR=runtime, LANG='ja_JP.UTF-8')
        env.pop('LC_ALL', None)
        done = subprocess.run([UPDATE, '--yes', '--ui-log', os.path.join(self.root, 'ui.log')], cwd=self.package,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors='replace'))
        with open(os.path.join(self.root, 'ui.log'), 'rb') as f:
            return f.read().decode('cp932')


class RoundTrip(Base):
    def test_make_then_update_gives_the_new_release(self):
        self.releases()
        self.install_old()
        updater = os.path.join(self.root, 'update.exe')
        write(self.root, 'update.exe', b'MZ stands in for the updater')
        out, err = self.make('--exe', updater)
        with open(os.path.join(self.package, 'update.exe'), 'rb') as f:
            self.assertEqual(f.read(), b'MZ stands in for the updater')
        self.assertIn('files: 6 (2 new, 4 changed)', out)
        self.assertIn('warning: scripts\\gone.txt is in OLD but not in NEW', err)
        self.assertIn('requires: installed version 1.0 or later', out)
        shipped = files_below(os.path.join(self.package, 'data'))
        self.assertEqual(sorted(shipped), sorted(['config/startup.xml', 'readme.txt', 'scripts/added/deep.txt',
                                                  'Data/Big.bin', '日本語/台詞.txt', 'empty.dat']))

        rc, out, err = self.tqpatch('check', self.package)
        self.assertEqual(rc, 0, out + err)
        self.assertIn('the package is sound', out)

        rc, out, err = self.tqpatch('plan', self.package, env={'WINEPREFIX': self.prefix})
        self.assertEqual(rc, 0, out + err)
        self.assertIn('installed version 1.0, required 1.0: passes', out)
        self.assertRegex(out, r'replace +\d+  Data\\Big\.bin')
        self.assertRegex(out, r'new +10  scripts\\added\\deep\.txt')
        self.assertIn('install.log gains 5 lines (6 in all)', out)
        for check in ('paths', 'sources', 'destinations', 'space'):
            self.assertIn(f'check {check}: ok', out)

        boxes = self.run_update()
        self.assertIn('テスト を更新します。', boxes)
        self.assertIn('アップデートが完了しました。', boxes)
        after = files_below(self.game)
        for relative, content in files_below(self.new).items():
            self.assertEqual(after.get(relative), content, relative)
        self.assertEqual(after['scripts/gone.txt'], b'dropped in 1.1')  # never deleted
        log = after['install.log'].decode('cp932').split('\r\n')
        self.assertEqual(log, ['"config\\startup.xml"', '"Data\\Big.bin"', '"empty.dat"', '"readme.txt"',
                               '"scripts\\added\\deep.txt"', '"日本語\\台詞.txt"', ''])
        # The package's plan against the updated game: nothing is new any more.
        rc, out, _ = self.tqpatch('plan', self.package, '--install', self.game)
        self.assertEqual(rc, 0)
        self.assertNotIn(' new ', out)
        self.assertIn('install.log gains 0 lines', out)

    def test_gate_and_keep_rule_in_the_plan(self):
        self.releases()
        self.make('--requires', '1.2')
        self.install_old()
        rc, out, err = self.tqpatch('plan', self.package, env={'WINEPREFIX': self.prefix})
        self.assertEqual(rc, 1)
        self.assertIn('installed version 1.0, required 1.2: too old', out)
        rc, out, err = self.tqpatch('plan', self.package, env={'WINEPREFIX': os.path.join(self.root, 'none')})
        self.assertEqual((rc, out), (1, ''))
        self.assertIn('no installation', err)
        # A destination of 260 bytes or more stops the whole copy.
        write(self.package, 'data/' + '/'.join(['y' * 60] * 4) + '/f.txt', b'x')
        self.edit_requires('1.0')
        rc, out, err = self.tqpatch('plan', self.package, env={'WINEPREFIX': self.prefix})
        self.assertEqual(rc, 1, out + err)
        self.assertIn('check paths: failed', out)
        self.assertIn('the copy would not start', err)
        self.assertIn('y' * 60 + '\\f.txt', err)
        # An old install.log the updater cannot merge stops it before the copy.
        shutil.rmtree(os.path.join(self.package, 'data', 'y' * 60))
        write(self.game, 'install.log', b'"readme.txt"\r\n"bad\0line"\r\n')
        rc, out, err = self.tqpatch('plan', self.package, env={'WINEPREFIX': self.prefix})
        self.assertEqual(rc, 1, out + err)
        self.assertIn('the update would stop', err)
        self.assertIn('install.log', err)
        self.assertIn('(line 2)', err)
        # A link planted in data/ after make: refused as the updater refuses it.
        write(self.game, 'install.log', b'"readme.txt"\r\n')
        os.symlink('/etc/hostname', os.path.join(self.package, 'data', 'planted.txt'))
        rc, out, err = self.tqpatch('plan', self.package, env={'WINEPREFIX': self.prefix})
        self.assertEqual(rc, 1, out + err)
        self.assertIn('the update would stop', err)
        self.assertIn('planted.txt', err)

    def edit_requires(self, version):
        path = os.path.join(self.package, 'updateinfo.xml')
        with open(path, 'rb') as f:
            text = f.read().decode('cp932')
        major, minor = version.split('.')
        text = text.replace('<major>1</major>', f'<major>{major}</major>').replace(
            '<minor>2</minor>', f'<minor>{minor}</minor>')
        with open(path, 'wb') as f:
            f.write(text.encode('cp932'))

    def test_plan_keeps_an_installed_program_with_a_newer_version(self):
        if not FIXTURES:
            self.skipTest('no PE files with version resources')
        with open(os.path.join(FIXTURES, 'v2000.dll'), 'rb') as f:
            newer = f.read()
        with open(os.path.join(FIXTURES, 'v1000.dll'), 'rb') as f:
            older = f.read()
        write(self.old, 'config/startup.xml', startup(1, 0))
        write(self.old, 'engine.dll', newer)
        write(self.new, 'engine.dll', older)
        write(self.new, 'other.dll', older)
        self.make()
        self.install_old()
        rc, out, err = self.tqpatch('plan', self.package, '--install', self.game)
        self.assertEqual(rc, 0, err)
        self.assertRegex(out, r'keep +\d+  engine\.dll')
        self.assertRegex(out, r'new +\d+  other\.dll')
        self.run_update()
        with open(os.path.join(self.game, 'engine.dll'), 'rb') as f:
            self.assertEqual(f.read(), newer)


class MakeOptions(Base):
    def test_config_file_texts_and_languages(self):
        self.releases()
        rc, _, err = self.tqpatch('texts', os.path.join(self.root, 'texts.xml'))
        self.assertEqual(rc, 0, err)
        with open(os.path.join(self.root, 'texts.xml'), 'rb') as f:
            texts = f.read().decode('cp932').replace('アップデートが完了しました。', '%TITLE% の更新完了')
        with open(os.path.join(self.root, 'texts.xml'), 'wb') as f:
            f.write(texts.encode('cp932'))
        with open(os.path.join(self.root, 'patch.conf'), 'w') as f:
            f.write('# settings\nbrand = E2EBrand\napp = e2egame\ninstall-path = C:\\Games\\E2E\n'
                    'mutex = M1\nconfig-mutex = M2\ntitle = 設定ファイル\nrequires = 0.9\n'
                    f'languages = jp\ntexts = {self.root}/texts.xml\n')
        rc, out, err = self.tqpatch('make', self.old, self.new, self.package, '--config',
                                    os.path.join(self.root, 'patch.conf'), '--title', 'コマンド行')
        self.assertEqual(rc, 0, err)
        self.assertIn('requires: installed version 0.9 or later', out)
        with open(os.path.join(self.package, 'updateinfo.xml'), 'rb') as f:
            info = f.read().decode('cp932')
        self.assertIn('<success>コマンド行 の更新完了</success>', info)
        self.assertNotIn('<en>', info)
        self.assertIn('<default>jp</default>', info)
        self.assertEqual(self.tqpatch('check', self.package)[0], 0)

    def test_refusals(self):
        self.releases()
        cases = [
            (['make', self.old, self.new, self.package, *MAKE_OPTIONS, '--colour', 'red'], 2, 'unknown option'),
            (['make', self.old, self.new, self.package, *MAKE_OPTIONS[2:]], 1, '--brand is required'),
            (['make', self.old, self.new, self.package, *MAKE_OPTIONS, '--requires', '1.x'], 1, 'MAJOR.MINOR'),
            (['make', self.old, self.new, self.package, *MAKE_OPTIONS, '--languages', 'jp,fr'], 1,
             "no language 'fr'"),
            (['make', self.old, self.new, self.package, *MAKE_OPTIONS, '--default-language', 'en',
              '--languages', 'jp'], 1, 'is not one of --languages'),
            (['make', self.old, self.old, self.package, *MAKE_OPTIONS], 1, 'nothing new or changed'),
            (['make', self.old, self.new, self.old, *MAKE_OPTIONS], 1, 'not an empty folder'),
            (['make', self.old, self.new, self.package, *MAKE_OPTIONS, '--picture', self.old + '/readme.txt'], 1,
             'not a picture format'),
            (['plan'], 2, 'usage: tqpatch plan'),
            (['check', self.root, 'extra'], 2, 'usage: tqpatch check'),
            (['frobnicate'], 2, 'unknown command'),
        ]
        for args, status, message in cases:
            shutil.rmtree(self.package, ignore_errors=True)
            rc, out, err = self.tqpatch(*args)
            self.assertEqual(rc, status, args)
            self.assertIn(message, err, args)
            if status == 1:
                # One line of error; warnings and the progress bar aside.
                errors = [line for line in err.split('\n')
                          if line.startswith('tqpatch: ') and not line.startswith('tqpatch: warning: ')]
                self.assertEqual(len(errors), 1, err)
        for command in ('make', 'check', 'plan', 'texts'):
            rc, out, _ = self.tqpatch(command, '--help')
            self.assertEqual(rc, 0)
            self.assertIn('usage: tqpatch ' + command, out)

    def test_new_tree_with_a_link_or_a_name_without_shift_jis_form(self):
        self.releases()
        os.symlink('readme.txt', os.path.join(self.new, 'link.txt'))
        write(self.new, 'café.txt', b'x')
        rc, out, err = self.tqpatch('make', self.old, self.new, self.package, *MAKE_OPTIONS)
        self.assertEqual(rc, 1)
        self.assertIn('NEW/link.txt: a symbolic link', err)
        self.assertIn('NEW/café.txt: the name has no exact Shift_JIS', err)
        self.assertFalse(os.path.exists(self.package))
        # A failure after writing began takes the half-made package away.
        os.remove(os.path.join(self.new, 'link.txt'))
        os.remove(os.path.join(self.new, 'café.txt'))
        rc, out, err = self.tqpatch('make', self.old, self.new, self.package, *MAKE_OPTIONS,
                                    '--picture', os.path.join(self.old, 'readme.txt'))
        self.assertEqual(rc, 1)
        self.assertFalse(os.path.exists(self.package))


class DemoPackage(Base):
    def test_the_bundled_demo_package_is_sound(self):
        demo = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'examples', 'demo')
        rc, out, err = self.tqpatch('check', demo)
        self.assertEqual(rc, 0, out + err)
        self.assertIn('picture: 480 x 270', out)


class BrokenPackages(Base):
    """One fault per case over a package make wrote; check names it."""

    def edit_info(self, old, new):
        path = os.path.join(self.package, 'updateinfo.xml')
        with open(path, 'rb') as f:
            text = f.read().decode('cp932')
        self.assertIn(old, text)
        with open(path, 'wb') as f:
            f.write(text.replace(old, new, 1).encode('cp932'))

    def test_each_fault_is_found(self):
        self.releases()
        picture = os.path.join(self.root, 'bg.bmp')
        # A 2 x 2 24-bit bitmap: any format the library reads becomes HG-3.
        with open(picture, 'wb') as f:
            f.write(b'BM' + (70).to_bytes(4, 'little') + bytes(4) + (54).to_bytes(4, 'little') +
                    (40).to_bytes(4, 'little') + (2).to_bytes(4, 'little') + (2).to_bytes(4, 'little') +
                    (1).to_bytes(2, 'little') + (24).to_bytes(2, 'little') + bytes(24) +
                    bytes([0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0]))
        self.make('--picture', picture)
        good = os.path.join(self.root, 'good')
        shutil.copytree(self.package, good, symlinks=True)
        rc, out, err = self.tqpatch('check', self.package)
        self.assertEqual(rc, 0, err)
        self.assertIn('picture: 2 x 2', out)
        self.assertIn('longest destination: 35 bytes, C:\\Games\\E2E\\scripts\\added\\deep.txt', out)

        data = os.path.join(self.package, 'data')
        long_name = '/'.join(['x' * 60] * 4)
        cases = {
            'updateinfo.xml is missing': lambda: os.remove(os.path.join(self.package, 'updateinfo.xml')),
            'does not parse': lambda: self.edit_info('</document>', '</documen>'),
            "default language 'fr'": lambda: self.edit_info('<default>jp</default>', '<default>fr</default>'),
            "'en' has no text message/success": lambda: self.edit_info('<success>The update is complete.</success>',
                                                                       ''),
            "'jp' has no text message_error/boot": lambda: self.edit_info(
                '<boot>テスト または設定ツールが起動しています。終了してから実行してください。</boot>', ''),
            'jp/message/wndtitle is cut to 255 bytes': lambda: self.edit_info(
                '<wndtitle>テスト アップデート', '<wndtitle>' + 'あ' * 130),
            'no language': lambda: self.edit_info('<code>1041</code>', ''),
            'version/major and version/minor must both be given': lambda: self.edit_info('<major>1</major>', ''),
            'version 1.0x is not two plain numbers': lambda: self.edit_info('<minor>0</minor>', '<minor>0x</minor>'),
            'updatebg.hg3: the picture does not decode': lambda: self.truncate('updatebg.hg3', 40),
            'data/ is missing': lambda: shutil.rmtree(data),
            'data/ holds no files': lambda: (shutil.rmtree(data), os.makedirs(os.path.join(data, 'empty'))),
            'data/café.txt: the name has no exact Shift_JIS form': lambda: write(data, 'café.txt', b'x'),
            'data/alias.txt: a symbolic link': lambda: os.symlink('readme.txt', os.path.join(data, 'alias.txt')),
            'data/pipe: a special file': lambda: os.mkfifo(os.path.join(data, 'pipe')),
            'bytes; the limit is 259': lambda: write(data, long_name + '/f.txt', b'x'),
        }
        for message, breaking in cases.items():
            with self.subTest(fault=message):
                shutil.rmtree(self.package)
                shutil.copytree(good, self.package, symlinks=True)
                breaking()
                rc, out, err = self.tqpatch('check', self.package)
                self.assertEqual(rc, 1, out + err)
                problems = [line for line in err.split('\n') if line.startswith('tqpatch: check: ')]
                self.assertEqual(len(problems), 1, err)
                self.assertIn(message, problems[0])
                self.assertRegex(out, r'1 problem\n$')

    def truncate(self, name, size):
        path = os.path.join(self.package, name)
        with open(path, 'r+b') as f:
            f.truncate(size)


if __name__ == '__main__':
    TQPATCH, UPDATE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    FIXTURES = sys.argv[3] if len(sys.argv) > 3 and os.path.isdir(sys.argv[3]) else None
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
