#!/usr/bin/env bash
# The README's GNU parallel form without a shared folder, against a real sshd: parallel
# sends the root to each machine with --basefile, brings every output back with --return
# and removes it there with --cleanup; a last command removes the rest. The two
# "machines" build1 and build2 are logins to a private sshd on 127.0.0.1, each with its
# own home folder in a temporary folder, so that nothing lands in the user's own home.
# Every job must come back as a plain sequential render makes it.
# Usage: gnu_parallel_ssh.sh BUILD_DIR SOURCE_DIR
#        (exit 77 = skipped: no sshd, ssh, rsync or parallel)
set -euo pipefail
build=$(cd "$1" && pwd) src=$(cd "$2" && pwd)
sshd=/usr/sbin/sshd # sshd re-executes itself, which needs its absolute path
for p in "$sshd" ssh ssh-keygen rsync parallel; do
  command -v "$p" >/dev/null || { echo "$p is not installed" >&2; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-ssh-XXXXXX")
cleanup() {
  local status=$?
  # A refused login shows only in the server's log (an account locked with "!" in
  # /etc/shadow, say, which sshd refuses without PAM).
  if [ "$status" -ne 0 ] && [ -s "$work/sshd.log" ]; then
    echo "sshd's log:" >&2
    cat "$work/sshd.log" >&2
  fi
  if [ -n "${sshd_pid:-}" ]; then
    kill "$sshd_pid" 2>/dev/null || true
    wait "$sshd_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Keys: the server's host key and one client key per machine.
for k in host_key build1_key build2_key; do
  ssh-keygen -q -N '' -t ed25519 -f "$work/$k" -C "quarvel test $k"
done
echo "quarvel-test $(cat "$work/host_key.pub")" >"$work/known_hosts"

# A login runs the client's command in the machine's home folder, with quarvel-cli on the
# PATH and the sanitizer options of this run (sshd passes no environment on).
{
  echo '#!/bin/sh'
  echo 'HOME=$1; export HOME; cd "$HOME" || exit 1'
  printf 'PATH=%q:/usr/local/bin:/usr/bin:/bin; export PATH\n' "$build"
  for v in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    if [ -n "${!v:-}" ]; then printf '%s=%q; export %s\n' "$v" "${!v}" "$v"; fi
  done
  echo 'exec "${SHELL:-/bin/sh}" -c "$SSH_ORIGINAL_COMMAND"'
} >"$work/login"
chmod +x "$work/login"
: >"$work/authorized_keys"
for m in build1 build2; do
  mkdir "$work/$m"
  echo "command=\"'$work/login' '$work/$m'\" $(cat "$work/${m}_key.pub")" >>"$work/authorized_keys"
done

# As root, sshd wants its privilege separation folder (the system's service makes it at
# boot; a fresh container may lack it).
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p /run/sshd
fi

# The port is chosen at random; one another program holds makes sshd exit, and the next
# try takes another.
sshd_pid=
for try in $(seq 1 20); do
  port=$((20000 + RANDOM % 40000))
  cat >"$work/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
PidFile $work/sshd.pid
AuthorizedKeysFile $work/authorized_keys
StrictModes no
UsePAM no
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
AllowTcpForwarding no
X11Forwarding no
PrintMotd no
# parallel opens a connection per job and per transfer, all at once at the start: more
# than sshd's default of 10 logins in progress would have it drop some.
MaxStartups 1000
EOF
  "$sshd" -D -e -f "$work/sshd_config" 2>"$work/sshd.log" &
  sshd_pid=$!
  # Ready when it says it listens (polled, with a generous limit for a busy machine).
  for _ in $(seq 1 1200); do
    grep -q "Server listening on 127.0.0.1 port $port" "$work/sshd.log" && break
    kill -0 "$sshd_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "Server listening on 127.0.0.1 port $port" "$work/sshd.log" && break
  kill "$sshd_pid" 2>/dev/null || true
  wait "$sshd_pid" 2>/dev/null || true
  sshd_pid=
done
if [ -z "$sshd_pid" ]; then
  echo "sshd did not start:" >&2
  cat "$work/sshd.log" >&2
  exit 1
fi

cat >"$work/ssh_config" <<EOF
Host build1 build2
  HostName 127.0.0.1
  Port $port
  User $(id -un)
  HostKeyAlias quarvel-test
  UserKnownHostsFile $work/known_hosts
  StrictHostKeyChecking yes
  BatchMode yes
  IdentitiesOnly yes
  ConnectTimeout 120
  LogLevel ERROR
Host build1
  IdentityFile $work/build1_key
Host build2
  IdentityFile $work/build2_key
EOF
export PARALLEL_SSH="ssh -F $work/ssh_config"
export PARALLEL_HOME=$work/parallel # parallel's cache of the machines' core counts
export PATH=$build:$PATH

# Several jobs of four angles (examples/common/angles4.txt), one of them in a folder
# whose name has a space.
mkdir "$work/local"
cd "$work/local"
mkdir art
cp -r "$src/examples/common" "$src/examples/units" art/
for d in a "c d"; do
  mkdir "art/$d"
  cp "$src/examples/units/"* "art/$d/"
done

# The README's commands, with the --return list of angles 0 to 3.
ret=()
for a in 0 1 2 3; do ret+=(--return "out/{}_$a.kxz" --return "out/{}_$a.p16"); done
quarvel-cli list --all --root art |
  parallel --will-cite --sshlogin build1,build2 --basefile art "${ret[@]}" --cleanup \
    quarvel-cli render {} --root art --out out
# --cleanup removed the sprites it brought back, but not the root (a folder) nor the
# manifests, which the README's last line removes.
left=$(find "$work/build1" "$work/build2" -name '*.kxz' -o -name '*.p16')
[ -z "$left" ] || { echo "--cleanup left sprites on the machines: $left" >&2; exit 1; }
parallel --will-cite --nonall --sshlogin build1,build2 rm -rf art out </dev/null
left=$(find "$work/build1" "$work/build2" -name art -o -name out)
[ -z "$left" ] || { echo "left on the machines: $left" >&2; exit 1; }

quarvel-cli render --all --root art --out seq --quiet
# The manifests name their own folder's files and stayed on the machines; the sprites must
# be the same bytes, and every job's must have come back (parallel's exit status does not
# count an output that rsync failed to bring back).
diff -r -x '.*.manifest' seq out
[ "$(find out -name '*.kxz' | wc -l)" -eq 24 ] # tank and walker, four angles each, in three folders
[ "$(find out -name '*.p16' | wc -l)" -eq 24 ]
echo "parallel over ssh brought every job back as a sequential run renders it"
