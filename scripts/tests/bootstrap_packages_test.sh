#!/usr/bin/env bash
# The bootstrap's package check against a scripted dpkg: apt runs only for what is missing for
# this machine's architecture, never because a foreign-architecture copy sits beside the native
# one (dpkg-query then prints two records), and never when everything is present.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The real dpkg-query prints one line per record in the format the bootstrap asks for.
line=$(dpkg-query -W -f='${Architecture}\t${Status}\n' dpkg | head -n 1)
[[ $line == "$(dpkg --print-architecture)"$'\t'"install ok installed" ]] ||
  fail "unexpected dpkg-query record: $line"

mkdir -p "$work/bin"
# dpkg-query -W -f=FORMAT NAME: the records of NAME in $work/status ("name arch status..."),
# else one native installed record.
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
name=${!#}
if grep -q "^$name " "$STATUS"; then
  grep "^$name " "$STATUS" | while read -r _ arch status; do printf '%s\t%s\n' "$arch" "$status"; done
else
  printf 'amd64\tinstall ok installed\n'
fi
FAKE
printf '#!/usr/bin/env bash\necho amd64\n' >"$work/bin/dpkg"
printf '#!/usr/bin/env bash\necho "apt-get $*" >>"$APT_LOG"\n' >"$work/bin/apt-get"
chmod +x "$work/bin/"*

run() {  # status-file-content -> output; apt calls in $work/apt.log
  printf '%s\n' "$1" >"$work/status"
  : >"$work/apt.log"
  PATH="$work/bin:$PATH" STATUS="$work/status" APT_LOG="$work/apt.log" \
    "$root/scripts/bootstrap.sh" --packages-only 2>&1
}

# 1. Everything present; g++ and zlib1g-dev also installed for arm64 and i386, mypy for arm64
#    in config-files state: nothing to do, no apt at all.
out=$(run "g++ amd64 install ok installed
g++ arm64 install ok installed
zlib1g-dev i386 install ok installed
zlib1g-dev amd64 install ok installed
mypy all install ok installed
mypy arm64 deinstall ok config-files")
[ ! -s "$work/apt.log" ] || fail "apt called with everything present: $(cat "$work/apt.log")"
[[ $out == *"packages present"* ]] || fail "no 'packages present' line: $out"

# 2. Only a foreign copy installed, or the native one half-installed: those two are missing.
run "zlib1g-dev arm64 install ok installed
cmake amd64 install ok half-configured
cmake arm64 install ok installed" >/dev/null
grep -q '^apt-get update' "$work/apt.log" || fail "no apt-get update: $(cat "$work/apt.log")"
install=$(grep 'apt-get install' "$work/apt.log") || fail "no apt-get install"
[[ $install == *" cmake zlib1g-dev" ]] || fail "installed the wrong set: $install"

grep -q '^packages=(' "$root/scripts/bootstrap.sh" || fail "the package list is not a plain array"
echo "bootstrap package check: ok"
