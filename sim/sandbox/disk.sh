#!/bin/sh
# Disks of the virtual board, run inside the board.
#   disk.sh attach PART   make partition PART (e.g. sda1) available at /vendor/PART
#   disk.sh detach PART   release it
# A partition's content lives in a tmpfs of exactly its listed size under
# <board>/disks/PART, which outlives detach so that a replugged disk keeps its
# files and tests can read recordings after an unplug.
set -u
BOARD=$(cd "$(dirname "$0")/.." && pwd)
op=${1:-}
part=${2:-}
case "$part" in
  ''|*/*|.*) echo "disk.sh: bad partition name '$part'" >&2; exit 2 ;;
esac
store="$BOARD/disks/$part"
mnt="/vendor/$part"

case "$op" in
  attach)
    if ! mountpoint -q "$store"; then
      kib=$(awk -v p="$part" '$4 == p { print $3 }' /proc/partitions)
      if [ -z "$kib" ]; then
        echo "disk.sh: $part is not in /proc/partitions" >&2
        exit 1
      fi
      mkdir -p "$store"
      mount -t tmpfs -o "size=${kib}k,mode=0755" "vbdisk-$part" "$store" || exit 1
    fi
    mkdir -p "$mnt"
    mountpoint -q "$mnt" || mount --bind "$store" "$mnt" || exit 1
    echo "mounted $mnt ($(df -m "$mnt" | awk 'NR == 2 { print $2 }') MB)"
    ;;
  detach)
    if mountpoint -q "$mnt"; then
      umount "$mnt" || umount -l "$mnt" || exit 1
    fi
    rmdir "$mnt" 2>/dev/null
    echo "released $mnt"
    ;;
  *)
    echo "usage: disk.sh attach|detach PART" >&2
    exit 2
    ;;
esac
