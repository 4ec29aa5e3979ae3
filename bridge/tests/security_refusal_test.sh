#!/usr/bin/env bash
# torvane-bridge with DDS Security refuses to start, with one line naming what is wrong and exit
# status 1, for each way a keystore can be bad; a good keystore starts. Loopback only, a DDS
# domain of this run's own, no robot needed (the bridge stops after a second).
#   security_refusal_test.sh BRIDGE KEYSTORE_TOOL
set -u
bridge=$1 tool=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

export CYCLONEDDS_URI='<General><Interfaces><NetworkInterface name="lo"/></Interfaces><AllowMulticast>false</AllowMulticast></General><Discovery><ParticipantIndex>none</ParticipantIndex></Discovery>'
export ROS_DOMAIN_ID=$((100 + $$ % 100))
unset ROS_SECURITY_ENABLE ROS_SECURITY_KEYSTORE ROS_SECURITY_ENCLAVE_OVERRIDE ROS_SECURITY_STRATEGY
port=$((20000 + $$ % 20000))

ks=$work/keystore other=$work/other
"$tool" init "$ks" >/dev/null && "$tool" init "$other" >/dev/null &&
  "$tool" enclave "$ks" /torvane/robot_x/bridge --role bridge --namespace robot_x >/dev/null &&
  "$tool" enclave "$ks" /torvane/robot_x/expired --role bridge --namespace robot_x --expired >/dev/null &&
  "$tool" enclave "$ks" /torvane/robot_x/twin --role bridge --namespace robot_x >/dev/null &&
  "$tool" enclave "$other" /torvane/robot_x/bridge --role bridge --namespace robot_x >/dev/null ||
  { echo "security_refusal_test: FAILED: torvane-keystore could not make the keystores"; exit 1; }

# The tool's own mistakes: one line, exit 1, nothing made.
tool_refuses() { # WHAT PATTERN ARGS...
  local what=$1 pattern=$2
  shift 2
  if ! "$tool" "$@" >"$work/out" 2>"$work/err" && [ "$(wc -l <"$work/err")" -eq 1 ] &&
     grep -q -- "$pattern" "$work/err"; then
    echo "security_refusal_test: ok: torvane-keystore refuses $what: $(cat "$work/err")"
  else
    echo "security_refusal_test: FAILED: torvane-keystore $what:"; cat "$work/out" "$work/err"
    failures=$((failures + 1))
  fi
}
tool_refuses "an unknown role" "--role must be bridge, operator or monitor, not: admin" \
  enclave "$ks" /torvane/robot_x/admin --role admin --namespace robot_x
tool_refuses "an enclave without a namespace" "missing option: --namespace NS" \
  enclave "$ks" /torvane/robot_x/op --role operator
tool_refuses "a second init" "already a keystore" init "$ks"
[ ! -e "$ks/enclaves/torvane/robot_x/admin" ] && [ ! -e "$ks/enclaves/torvane/robot_x/op" ] ||
  { echo "security_refusal_test: FAILED: a refused enclave left files"; failures=$((failures + 1)); }

# A copy of the keystore with its links resolved, to spoil one file of.
spoilt() { rm -rf "$work/$1"; cp -rL "$ks" "$work/$1"; echo "$work/$1"; }
enclave_of() { echo "$1/enclaves/torvane/robot_x/bridge"; }

# run NAME EXPECTED_STATUS PATTERN [env VAR=VALUE ...] -- [bridge options]
run() {
  local name=$1 want=$2 pattern=$3
  shift 3
  local envs=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do envs+=("$1"); shift; done
  shift
  env "${envs[@]}" timeout -k 5 60 "$bridge" --level high --robot 127.0.0.1 --robot-port $((port + 1)) \
    --local-port "$port" --namespace robot_x --duration 1 "$@" >"$work/out" 2>"$work/err"
  local status=$? lines
  lines=$(wc -l <"$work/err")
  if [ "$status" -eq "$want" ] && grep -q -- "$pattern" "$work/err" "$work/out" &&
     { [ "$want" -eq 0 ] || { [ "$lines" -eq 1 ] && ! grep -q "topics" "$work/out"; }; }; then
    echo "security_refusal_test: ok: $name: $(cat "$work/err" | head -n 1)"
  else
    echo "security_refusal_test: FAILED: $name: status $status (want $want), stderr:"
    cat "$work/err" "$work/out"
    failures=$((failures + 1))
  fi
}

run "a good keystore starts" 0 "DDS Security on (strict): enclave /torvane/robot_x/bridge" -- --security "$ks"
run "the same from ROS 2's variables" 0 "DDS Security on" \
  ROS_SECURITY_ENABLE=true "ROS_SECURITY_KEYSTORE=$ks" ROS_SECURITY_STRATEGY=Enforce --

k=$(spoilt missing_key); rm "$(enclave_of "$k")/key.pem"
run "a missing file" 1 "key.pem: No such file or directory" -- --security "$k"
k=$(spoilt unreadable); chmod 000 "$(enclave_of "$k")/permissions.p7s"
if [ "$(id -u)" -ne 0 ]; then
  run "an unreadable file" 1 "permissions.p7s: Permission denied" -- --security "$k"
fi
run "a missing enclave" 1 "enclaves/torvane/nobody/bridge/identity_ca.cert.pem: No such file" \
  -- --security "$ks" --enclave /torvane/nobody/bridge
run "an expired certificate" 1 "cert.pem: certificate has expired" \
  -- --security "$ks" --enclave /torvane/robot_x/expired
run "an expired certificate named by ROS_SECURITY_ENCLAVE_OVERRIDE" 1 "certificate has expired" \
  ROS_SECURITY_ENABLE=true "ROS_SECURITY_KEYSTORE=$ks" ROS_SECURITY_ENCLAVE_OVERRIDE=/torvane/robot_x/expired --

k=$(spoilt wrong_governance)
openssl smime -sign -text -in "$ks/enclaves/governance.xml" -out "$(enclave_of "$k")/governance.p7s" \
  -signer "$other/public/permissions_ca.cert.pem" -inkey "$other/private/permissions_ca.key.pem"
run "governance signed by the wrong CA" 1 "governance.p7s: not signed by the permissions CA" -- --security "$k"
k=$(spoilt wrong_permissions)
cp "$(enclave_of "$other")/permissions.p7s" "$(enclave_of "$k")/permissions.p7s"
run "permissions signed by the wrong CA" 1 "permissions.p7s: not signed by the permissions CA" -- --security "$k"
k=$(spoilt wrong_identity)
cp "$(enclave_of "$other")/cert.pem" "$(enclave_of "$k")/cert.pem"
cp "$(enclave_of "$other")/key.pem" "$(enclave_of "$k")/key.pem"
run "an identity from another CA" 1 "cert.pem: not issued by the identity CA" -- --security "$k"
k=$(spoilt wrong_key)
cp "$ks/enclaves/torvane/robot_x/twin/key.pem" "$(enclave_of "$k")/key.pem"
run "a key that is not the certificate's" 1 "key.pem: not the key of" -- --security "$k"
k=$(spoilt tampered)
sed -i 's/<topic>rt\/robot_x\/cmd_vel</<topic>rt\/robot_y\/cmd_vel</' "$(enclave_of "$k")/permissions.p7s"
run "a permissions document changed after signing" 1 "permissions.p7s: not signed by the permissions CA" -- --security "$k"

# Signed correctly but open: strict refuses it.
k=$(spoilt open_governance)
sed 's/<allow_unauthenticated_participants>false/<allow_unauthenticated_participants>true/' \
  "$ks/enclaves/governance.xml" >"$work/open.xml"
openssl smime -sign -text -in "$work/open.xml" -out "$(enclave_of "$k")/governance.p7s" \
  -signer "$ks/public/permissions_ca.cert.pem" -inkey "$ks/private/permissions_ca.key.pem"
run "governance allowing unauthenticated participants" 1 "allows unauthenticated participants" -- --security "$k"
k=$(spoilt plain_governance)
sed 's/<data_protection_kind>ENCRYPT/<data_protection_kind>NONE/' \
  "$ks/enclaves/governance.xml" >"$work/plain.xml"
openssl smime -sign -text -in "$work/plain.xml" -out "$(enclave_of "$k")/governance.p7s" \
  -signer "$ks/public/permissions_ca.cert.pem" -inkey "$ks/private/permissions_ca.key.pem"
run "governance leaving the bridge's topics unencrypted" 1 "rt/robot_x/joint_states is not encrypted" -- --security "$k"

# Every file good on its own, but the permissions name another subject: only the participant's
# creation can tell, and its refusal is a refusal to start.
k=$(spoilt twin_identity)
cp "$ks/enclaves/torvane/robot_x/twin/cert.pem" "$ks/enclaves/torvane/robot_x/twin/key.pem" "$(enclave_of "$k")/"
run "permissions of another subject" 1 "with the security keystore: .*Subject name is invalid" -- --security "$k"

run "ROS_SECURITY_ENABLE=true without a keystore" 1 "ROS_SECURITY_KEYSTORE is not set" ROS_SECURITY_ENABLE=true --
run "an unknown ROS_SECURITY_STRATEGY" 1 "ROS_SECURITY_STRATEGY must be Enforce or Permissive" \
  ROS_SECURITY_ENABLE=true "ROS_SECURITY_KEYSTORE=$ks" ROS_SECURITY_STRATEGY=Lenient --
run "--security-strict without security" 1 "--security-strict needs --security" -- --security-strict
run "an enclave that is not a path" 2 "not an enclave path" -- --security "$ks" --enclave torvane/x

[ "$failures" -eq 0 ] || { echo "security_refusal_test: $failures FAILED"; exit 1; }
echo "security_refusal_test: passed"
