#!/usr/bin/env bash
# The board's libraries for the armhf build: a sysroot made by mmdebstrap from
# the mirror this machine's apt sources name, kept outside the clone in a cache
# keyed by its package list, so a fresh clone reuses it and a changed list
# makes a new one. Nothing of armhf is installed on the PC itself.
#   scripts/sysroot.sh            make it if it is not there; print its path
#   scripts/sysroot.sh --path     print where it is (or would be); make nothing
#   scripts/sysroot.sh --rebuild  make it anew
# VIDREC_SYSROOT_CACHE moves the cache (default /var/cache/vidrec). Keep it out
# of /tmp: the board sandbox has a /tmp of its own, and the emulated recorder
# there loads its libraries from the sysroot.
set -euo pipefail
CACHE=${VIDREC_SYSROOT_CACHE:-/var/cache/vidrec}
SUITE=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
# libstdc++ of the cross compiler's own version.
gccver=$(arm-linux-gnueabihf-gcc -dumpversion 2>/dev/null || echo 12)
PKGS=(libc6-dev "libstdc++-${gccver%%.*}-dev" libavformat-dev libavcodec-dev libavutil-dev
      librtmp-dev libcivetweb-dev)
key=$(printf '%s\n' "$SUITE" "${PKGS[@]}" | sha256sum | cut -c1-12)
DIR=$CACHE/armhf-$SUITE-$key
STAMP=$DIR/.sysroot

mode=${1:-}
case "$mode" in
  --path) echo "$DIR"; exit 0 ;;
  ""|--rebuild) ;;
  *) echo "usage: $0 [--path|--rebuild]" >&2; exit 2 ;;
esac

say() { echo "sysroot: $*" >&2; }
mkdir -p "$CACHE"
exec 9>"$CACHE/.lock"
flock 9   # one maker at a time; the others then find it made

if [ "$mode" = --rebuild ]; then rm -rf "$DIR"; fi
if [ -f "$STAMP" ]; then
  say "$DIR ($(sed -n 's/^suites: //p' "$STAMP"))"
  echo "$DIR"
  exit 0
fi

command -v mmdebstrap >/dev/null || { say "mmdebstrap is missing (scripts/deps.sh installs it)"; exit 1; }
# The mirrors of the machine's own sources, by suite.
site() {
  apt-get indextargets --format '$(RELEASE) $(SITE)' 2>/dev/null | awk -v s="$1" '$1 == s { print $2; exit }'
}
main=$(site "$SUITE")
[ -n "$main" ] || { say "no apt source names the suite $SUITE"; exit 1; }
updates=$(site "$SUITE-updates")
security=$(site "$SUITE-security")
sources=("deb $main $SUITE main")
[ -n "$updates" ] && sources+=("deb $updates $SUITE-updates main")

log=$CACHE/mmdebstrap.log
new=$DIR.new
bootstrap() {  # sources...
  rm -rf "$new"
  mmdebstrap --variant=extract --architectures=armhf --include="$(IFS=,; echo "${PKGS[*]}")" \
    "$SUITE" "$new" "$@" >"$log" 2>&1
}
# A mirror in the middle of a sync serves indexes that do not match their
# Release file for a while: each set of suites gets a second try.
made=""
if [ -n "$security" ]; then
  for try in 1 2; do
    if bootstrap "${sources[@]}" "deb $security $SUITE-security main"; then made=with; break; fi
    [ "$try" -eq 1 ] && sleep 10
  done
  if [ -z "$made" ]; then
    say "the $SUITE-security suite's armhf index did not load; making the sysroot without it:"
    grep -E '^(Err|E):' "$log" | head -n 3 | sed 's/^/  /' >&2 || true
  fi
fi
if [ -z "$made" ]; then
  for try in 1 2; do
    if bootstrap "${sources[@]}"; then made=without; break; fi
    [ "$try" -eq 1 ] && sleep 10
  done
fi
if [ -z "$made" ]; then
  say "mmdebstrap failed (whole log: $log):"
  grep -E '^(Err|E):' "$log" | sed 's/^/  /' >&2 || tail -n 20 "$log" >&2
  rm -rf "$new"
  exit 1
fi

# Only what a build and qemu-arm need: qemu-arm -L looks every absolute path up
# here first, so a dev/, etc/, tmp/ or var/ here would stand in for the real
# ones under an emulated program.
find "$new" -mindepth 1 -maxdepth 1 ! -name usr ! -name 'lib*' ! -name bin ! -name sbin -exec rm -rf {} +
suites="$SUITE${updates:+ $SUITE-updates}"
if [ "$made" = with ]; then suites+=" $SUITE-security"
elif [ -n "$security" ]; then suites+=", without $SUITE-security (its armhf index did not load)"; fi
printf 'suites: %s\npackages: %s\nmirror: %s\nmade: %s\n' "$suites" "${PKGS[*]}" "$main" "$(date -u +%FT%TZ)" \
  >"$new/.sysroot"
mv "$new" "$DIR"
say "made $DIR ($suites)"
echo "$DIR"
