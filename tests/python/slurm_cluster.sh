#!/usr/bin/env bash
# A one-node Slurm cluster on this machine for the sweep test on a cluster:
# munged with a key made here, slurmctld and slurmd from a slurm.conf written
# here, every file (state, spool, logs, pids, the munge socket) in DIR and
# ports of their own, so that nothing of the machine's own set-up is used.
#
#   slurm_cluster.sh start DIR   start them; the clients find the cluster
#                                through SLURM_CONF=DIR/slurm.conf
#   slurm_cluster.sh stop DIR    stop them, each by its process id
#
# Needs Debian's slurm-wlm and munge (as root); installs nothing. Job
# completions go to DIR/jobcomp.txt (jobcomp/filetxt), which `sacct -c`
# reads; there is no accounting database.
set -euo pipefail
what=${1:-}
dir=${2:-}
[ -n "$what" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

stop() {
  local name pid
  # the cluster's own jobs first, so that no task outlives its daemons
  if [ -f "$dir/slurmctld.pid" ] && kill -0 "$(cat "$dir/slurmctld.pid")" 2>/dev/null; then
    SLURM_CONF=$dir/slurm.conf scancel --user="$(id -un)" 2>/dev/null || true
    for _ in $(seq 100); do
      [ -z "$(SLURM_CONF=$dir/slurm.conf squeue -h 2>/dev/null)" ] && break
      sleep 0.1
    done
  fi
  for name in slurmd slurmctld munged; do
    [ -f "$dir/$name.pid" ] || continue
    pid=$(cat "$dir/$name.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    rm -f "$dir/$name.pid"
  done
}

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

fail() { # message
  echo "$0: $1" >&2
  stop
  exit 1
}

wait_for() { # what, command...
  local what=$1; shift
  for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  fail "$what does not answer (logs in $dir)"
}

start() {
  local p
  for p in /usr/sbin/munged /usr/sbin/slurmctld /usr/sbin/slurmd; do
    [ -x "$p" ] || { echo "$0: $p not found (Debian packages slurm-wlm and munge)" >&2; exit 1; }
  done
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  chmod 700 "$dir"
  mkdir -p "$dir/state" "$dir/spool"
  dd if=/dev/urandom of="$dir/munge.key" bs=1024 count=1 status=none
  chmod 400 "$dir/munge.key"
  /usr/sbin/munged --force --key-file="$dir/munge.key" --socket="$dir/munge.socket" \
    --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" --seed-file="$dir/munged.seed" ||
    fail "munged did not start (see $dir/munged.log)"
  wait_for munged munge -n -S "$dir/munge.socket"

  local host cpus mem
  host=$(hostname -s)
  cpus=$(nproc)
  mem=$(/usr/sbin/slurmd -C | sed -n 's/.*RealMemory=\([0-9]*\).*/\1/p')
  cat > "$dir/slurm.conf" <<EOF
ClusterName=cavitytest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge.socket,cred_expire=5
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
SchedulerParameters=bf_interval=1,sched_interval=1
MpiDefault=none
ReturnToService=2
KillWait=5
MinJobAge=600
InactiveLimit=0
SlurmctldTimeout=30
SlurmdTimeout=60
PlugStackConfig=$dir/plugstack.conf
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$mem State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
  : > "$dir/plugstack.conf"
  export SLURM_CONF=$dir/slurm.conf
  /usr/sbin/slurmctld -i -f "$dir/slurm.conf" || fail "slurmctld did not start (see $dir/slurmctld.log)"
  wait_for slurmctld scontrol ping
  /usr/sbin/slurmd -f "$dir/slurm.conf" || fail "slurmd did not start (see $dir/slurmd.log)"
  # the node is up once sinfo shows it idle
  for _ in $(seq 150); do
    [ "$(sinfo -h -N -o %t 2>/dev/null)" = idle ] && return 0
    sleep 0.2
  done
  fail "the node does not come up (see $dir/slurmd.log, $dir/slurmctld.log)"
}

case $what in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
