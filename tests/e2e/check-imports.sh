#!/bin/sh
# Fails when the setup program imports a library at load time that Windows
# might look for in the program's own folder. Only libraries that the system
# always takes from its own folder (its known libraries) may be imported;
# every other library is loaded at run time from the system folder.
#   check-imports.sh objdump setup.exe
set -u
objdump=$1
program=$2
allowed="advapi32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll"

names=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr 'A-Z' 'a-z' | tr -d '\r')
if [ -z "$names" ]; then
  echo "$program: no import table found" >&2
  exit 1
fi
status=0
for name in $names; do
  case " $allowed " in
    *" $name "*) echo "imports $name" ;;
    *) echo "$program imports $name, which is not a known system library" >&2; status=1 ;;
  esac
done
exit $status
