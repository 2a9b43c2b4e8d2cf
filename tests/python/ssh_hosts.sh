#!/usr/bin/env bash
# Two ssh "hosts" on this machine for the sweep test across machines: two
# sshd daemons on loopback addresses (127.0.0.1 and 127.0.0.2), each on a
# free port, with host and user keys made for the test in DIR.
#
#   ssh_hosts.sh start DIR   start them; DIR/ssh_config names them
#                            cavity-host-a and cavity-host-b
#   ssh_hosts.sh stop DIR    stop them (and nothing else)
#
# Needs Debian's openssh-server and openssh-client; installs nothing.
set -euo pipefail
what=${1:-}
dir=${2:-}
[ -n "$what" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

stop() {
  local pidfile
  for pidfile in "$dir"/sshd-*.pid; do
    [ -f "$pidfile" ] || continue
    kill "$(cat "$pidfile")" 2>/dev/null || true
    rm -f "$pidfile"
  done
}

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start() {
  local sshd=/usr/sbin/sshd
  [ -x "$sshd" ] || { echo "$0: $sshd not found (Debian package openssh-server)" >&2; exit 1; }
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  rm -f "$dir"/host_key* "$dir"/id_test* "$dir"/known_hosts
  ssh-keygen -q -t ed25519 -N '' -f "$dir/host_key"
  ssh-keygen -q -t ed25519 -N '' -f "$dir/id_test"
  cp "$dir/id_test.pub" "$dir/authorized_keys"
  chmod 600 "$dir/authorized_keys"
  mkdir -p /run/sshd 2>/dev/null || true  # privilege separation, when root
  : > "$dir/ssh_config"
  local name addr port
  for name in a b; do
    addr=127.0.0.1; [ "$name" = b ] && addr=127.0.0.2
    port=$(free_port)
    cat > "$dir/sshd-$name.conf" <<EOF
ListenAddress $addr:$port
HostKey $dir/host_key
PidFile $dir/sshd-$name.pid
AuthorizedKeysFile $dir/authorized_keys
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
StrictModes no
UsePAM no
LogLevel ERROR
MaxStartups 100
MaxSessions 100
EOF
    "$sshd" -f "$dir/sshd-$name.conf" -E "$dir/sshd-$name.log"
    echo "[$addr]:$port $(cut -d' ' -f1,2 "$dir/host_key.pub")" >> "$dir/known_hosts"
    cat >> "$dir/ssh_config" <<EOF
Host cavity-host-$name
  HostName $addr
  Port $port
  User $(id -un)
  IdentityFile $dir/id_test
  IdentitiesOnly yes
  UserKnownHostsFile $dir/known_hosts
  StrictHostKeyChecking yes
  BatchMode yes
  LogLevel ERROR
EOF
  done
  # wait until both answer
  for name in a b; do
    for _ in $(seq 50); do
      ssh -F "$dir/ssh_config" "cavity-host-$name" true 2>/dev/null && continue 2
      sleep 0.1
    done
    echo "$0: sshd of cavity-host-$name does not answer (see $dir/sshd-$name.log)" >&2
    stop
    exit 1
  done
}

case $what in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
