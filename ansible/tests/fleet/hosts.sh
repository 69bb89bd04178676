# shellcheck shell=bash
# Simulated hosts for playbook runs (sourced by run and measure).

# make_fleet WORK BIN HOST...: in WORK, one host root per HOST built from
# examples/host, each with its own state (hostsim init, the example's tardisk
# mapped, its files labelled), and WORK/inventory naming them in the group
# fleet, with the tools of BIN. Sets the environment ansible-playbook runs in.
make_fleet() {
  local work=$1 bin=$2 repo h root
  shift 2
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
  export ANSIBLE_COLLECTIONS_PATH=$repo/ansible ANSIBLE_HOME=$work/ansible-home
  export ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_REMOTE_TEMP=$work/ansible-tmp
  export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_STDOUT_CALLBACK=default
  # Every module runs as one process fed on its standard input, with no
  # temporary copy of it to write, make executable and remove.
  export ANSIBLE_PIPELINING=1
  export HOSTSIM_SYSLOG=down
  {
    echo "[fleet]"
    for h in "$@"; do
      root=$work/$h
      mkdir "$root"
      cp -a "$repo/examples/host/etc" "$repo/examples/host/tardisks" "$repo/examples/host/files" "$root/"
      # The example maps files below one fixed folder; each host maps its own.
      sed -i "s|/tmp/secpolicy-example/files|$root/files|" "$root"/etc/norvane/secpolicy/fileLabels/*
      HOSTSIM_STATE=$root/state.db "$bin/hostsim" init
      HOSTSIM_STATE=$root/state.db "$bin/hostsim" tardisk map \
        "$root/etc/norvane/secpolicy/tardisks/iofilters" iofilters
      HOSTSIM_STATE=$root/state.db "$bin/hostsim" label-init --recursive "$root/files" "$root/tardisks"
      echo "$h host_root=$root secpolicy_state=$root/state.db"
    done
    echo "[fleet:vars]"
    echo "ansible_connection=local"
    echo "ansible_python_interpreter=$(sed -n '1s/^#! *//p' "$(command -v ansible-playbook)")"
    echo "secpolicy_bin=$bin/secpolicy"
    echo "hostsim_bin=$bin/hostsim"
  } >"$work/inventory"
}
