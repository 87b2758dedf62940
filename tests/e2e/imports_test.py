#!/usr/bin/env python3
"""update.exe runs elevated from a downloaded folder, where anyone could have
put a DLL beside it. It is linked statically and imports only DLLs that the
loader always takes from the system folder (plus the common controls, which
its manifest binds to the system's side-by-side copy).

usage: imports_test.py OBJDUMP PROGRAM.exe
"""
import re
import subprocess
import sys

ALWAYS_FROM_SYSTEM = {'advapi32.dll', 'gdi32.dll', 'kernel32.dll', 'msvcrt.dll', 'ole32.dll',
                      'oleaut32.dll', 'shell32.dll', 'user32.dll'}
SIDE_BY_SIDE = {'comctl32.dll'}


def main():
    objdump, program = sys.argv[1:3]
    headers = subprocess.run([objdump, '-p', program], check=True, capture_output=True, text=True).stdout
    imported = {name.lower() for name in re.findall(r'DLL Name: (\S+)', headers)}
    print('imports:', ' '.join(sorted(imported)))
    if not {'kernel32.dll', 'user32.dll'} <= imported:
        sys.exit('the import table was not read')
    planted = imported - ALWAYS_FROM_SYSTEM - SIDE_BY_SIDE
    if planted:
        sys.exit('imports that a DLL beside the program could replace: ' + ' '.join(sorted(planted)))
    if SIDE_BY_SIDE & imported and b'Microsoft.Windows.Common-Controls' not in open(program, 'rb').read():
        sys.exit('comctl32.dll is imported without the manifest that binds it')


if __name__ == '__main__':
    main()
