"""What the end-to-end runs of both updaters share: the package description
with Japanese texts, and the UI log's line format."""

import os

JP = {
    'wndtitle': 'アップデート',
    'intoro': '更新を始めます。\\nよろしいですか？',
    'success': '更新が完了しました。',
    'error_version': 'バージョンが古いため更新できません。',
    'error_inst': 'インストール先が見つかりません。',
    'error_copy': '更新に失敗しました。',
    'copying': 'アップデート中です。',
    'language': '言語がありません。',
    'boot': 'ゲームを終了してから実行してください。',
    'title': 'エラー',
}


# Exit statuses of both updaters (app/ExitCodes.h).
REFUSED, CANCELLED, FAILED = 3, 4, 5


def sjis(text):
    return text.encode('cp932')


def description(major='1', minor='1', languages=True, mutex='TQ_E2E_GAME',
                brand='E2EBrand', app='e2egame', confmutex=None):
    """updateinfo.xml (Shift_JIS bytes) with one Japanese language."""
    if confmutex is None:
        confmutex = mutex + '_CONF'
    langs = ''
    if languages:
        langs = ('<language><default>jp</default>'
                 '<lang00><code>1041</code><prifix>jp</prifix><lang>日本語</lang></lang00>'
                 '</language>'
                 '<jp><message>'
                 f'<wndtitle>{JP["wndtitle"]}</wndtitle><intoro>{JP["intoro"]}</intoro>'
                 f'<success>{JP["success"]}</success><error_version>{JP["error_version"]}</error_version>'
                 f'<error_inst>{JP["error_inst"]}</error_inst><error_copy>{JP["error_copy"]}</error_copy>'
                 '</message><message_sys>'
                 f'<copying>{JP["copying"]}</copying></message_sys><message_error>'
                 f'<language>{JP["language"]}</language><boot>{JP["boot"]}</boot>'
                 f'<title>{JP["title"]}</title></message_error></jp>')
    text = ('<?xml version="1.0" encoding="Shift_JIS"?>\r\n<document>'
            f'<brand>{brand}</brand><app>{app}</app>'
            f'<mutex>{mutex}</mutex><confmutex>{confmutex}</confmutex>'
            f'<version><major>{major}</major><minor>{minor}</minor></version>'
            f'{langs}</document>\r\n')
    return sjis(text)


def escape_log(data):
    """Bytes as the UI log writes them: line feeds as \\n, backslashes as \\\\
    (the trail byte of a double-byte character is no backslash)."""
    out = bytearray()
    i = 0
    while i < len(data):
        c = data[i]
        if (0x81 <= c <= 0x9F or 0xE0 <= c <= 0xFC) and i + 1 < len(data):
            out += data[i:i + 2]
            i += 2
            continue
        if c == 0x0A:
            out += b'\\n'
        elif c == 0x5C:
            out += b'\\\\'
        else:
            out.append(c)
        i += 1
    return bytes(out)


def box(caption, text, answer):
    """A line of the UI log (Shift_JIS bytes); caption and text as str."""
    return escape_log(sjis(caption)) + b'\t' + escape_log(sjis(text)) + b'\t' + answer.encode() + b'\n'


def intoro_shown():
    return JP['intoro'].replace('\\n', '\n')


# The success scenario of both updaters: three files in nested folders over an
# installation with an old log that spells one of them differently.
def put_nested_package(test):
    test.put(test.package, 'data\\top.txt', b'top')
    test.put(test.package, 'data\\sub\\inner.bin', bytes(range(256)) * 100)
    test.put(test.package, 'data\\sub\\deep\\表.txt', sjis('表'))
    test.put(test.game, 'install.log', b'"Sub\\Inner.BIN"\r\n"old.txt"\r\n')
    test.put(test.game, 'sub\\inner.bin', b'old contents')


def check_nested_package_copied(test):
    test.assertEqual(test.read('top.txt'), b'top')
    test.assertEqual(test.read('sub\\inner.bin'), bytes(range(256)) * 100)
    test.assertEqual(test.read('sub\\deep\\表.txt'), sjis('表'))
    test.assertEqual(test.read('install.log'),
                     b'"old.txt"\r\n' + sjis('"sub\\deep\\表.txt"') +
                     b'\r\n"Sub\\Inner.BIN"\r\n"top.txt"\r\n')


# The failed-copy scenario of both updaters: a folder stands where the file
# blocked.txt must go, between two files that copy.
def put_blocked_package(test):
    test.describe()
    test.record()
    test.installed(1, 1)
    test.put(test.package, 'data\\a.txt', b'new a')
    test.put(test.package, 'data\\blocked.txt', b'new b')
    test.put(test.package, 'data\\z.txt', b'new z')
    test.put(test.game, 'z.txt', b'old z')
    # Permissions would stop nothing for root: a folder does.
    os.makedirs(os.path.join(test.game, 'blocked.txt'))


def check_blocked_package_changed_nothing(test):
    # Refused before the first byte is written: no file copied, no log.
    test.assertEqual(sorted(os.listdir(test.game)), ['blocked.txt', 'config', 'z.txt'])
    test.assertEqual(test.read('z.txt'), b'old z')
