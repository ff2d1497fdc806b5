#!/bin/sh
# Board storage script: release the partition given (e.g. sda1) from /vendor.
exec @BOARD@/bin/disk.sh detach "$1"
