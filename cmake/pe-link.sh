#!/bin/sh
# Link launcher of the Windows builds: runs the link command it is given so
# that the programs' PE time stamp is reproducible. With SOURCE_DATE_EPOCH
# set, the linker writes that time (it reads the variable itself); without
# it, no time at all (0): two builds of the same sources are the same bytes.
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  exec "$@"
fi
exec "$@" -Wl,--no-insert-timestamp
