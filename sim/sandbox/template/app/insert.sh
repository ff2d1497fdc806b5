#!/bin/sh
# Board storage script: mount the partition given (e.g. sda1) at /vendor/<partition>.
exec @BOARD@/bin/disk.sh attach "$1"
