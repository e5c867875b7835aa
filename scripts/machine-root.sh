# Sourced by the demo and the benchmarks: a machine root in a folder of this machine, the three
# services on it, and programs run in a session as that session's account. Needs root.
#   mr_prepare ROOT BIN      fresh machine root and settings (OMBRIX_ROOT exported)
#   mr_start_services        driver stand-in (mr_units units, 4 unless set; one stays empty),
#                            management and network access services
#   mr_stop_services         logs every session off, then stops the services
#   mr_account NAME          the system account NAME, created when missing
#   mr_logon SID USER        logs USER on in session SID, with a home under ROOT/users
#   in_session SID USER PROGRAM ARGS...   runs PROGRAM as USER in session SID

mr_settings='HKLM\SOFTWARE\Norvane\Ombrix TS v5\GlobalSettings'
mr_sessions=()
mr_pids=()

mr_prepare() {
  mr_root=$1
  mr_bin=$2
  # What a run before left mounted goes first.
  grep -o " $mr_root/[^ ]*" /proc/self/mounts 2>/dev/null | xargs -r -n1 umount -l 2>/dev/null || true
  rm -rf "$mr_root"
  mkdir -p "$mr_root/home" "$mr_root/pool/images" "$mr_root/users"
  export OMBRIX_ROOT=$mr_root
  "$mr_bin/oxtreg" set "$mr_settings" OmxHomePath REG_SZ "$mr_root/home/"
  "$mr_bin/oxtreg" set "$mr_settings" OXTLogLevel REG_SZ 0
  # The pool's shared files (catalogue, profiles, tree, server list, administration file) lie
  # in one folder; the network access service publishes them.
  for key in OmxConfigPathNet OMXServerPathNet OmxTreePathNet OmxAdmPathNet OMXSecurityPathNet; do
    "$mr_bin/oxtreg" set "$mr_settings" "$key" REG_SZ "$mr_root/pool/"
  done
  "$mr_bin/oxtenv" set OmxHomePath "$mr_root/home/"
  "$mr_bin/oxtenv" set OXTLogLevel 0
  "$mr_bin/oxtenv" set OmxConfigFileNet "$mr_root/pool/OMXimg.dat"
  # The installation's system folder holds the programs, so the client library finds the
  # session helper program there and starts it once per session.
  ln -sfn "$mr_bin" "$mr_root/home/system"
}

mr_start_services() {
  # The units show the discs' files through FUSE where this machine allows it.
  "$mr_bin/oxtmpdrv" --units "${mr_units:-4}" --port 2 > "$mr_root/oxtmpdrv.out" 2> "$mr_root/oxtmpdrv.err" &
  mr_driver=$!
  mr_pids+=("$mr_driver")
  # The service looks for the driver's port once, at start: wait until the driver registered it.
  for _ in $(seq 50); do
    "$mr_bin/oxtreg" get 'HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port 2' Driver >/dev/null 2>&1 && break
    sleep 0.1
  done
  "$mr_bin/Oxtserv" -d > "$mr_root/oxtserv.out" 2>&1 &
  mr_pids+=($!)
  for _ in $(seq 50); do "$mr_bin/oxtpipe" 7 >/dev/null 2>&1 && break; sleep 0.1; done
  "$mr_bin/OXTNet" -d > "$mr_root/oxtnet.out" 2>&1 &
  mr_pids+=($!)
  # Running once it has published the pool's files.
  for _ in $(seq 100); do "$mr_bin/oxtenv" get OXTSecurity >/dev/null 2>&1 && break; sleep 0.1; done
}

mr_stop_services() {
  local sid i
  for sid in "${mr_sessions[@]}"; do "$mr_bin/oxtsession" logoff "$sid" >/dev/null 2>&1; done
  mr_sessions=()
  # In reverse order of their start: network access service, management service, driver.
  for ((i = ${#mr_pids[@]} - 1; i >= 0; i--)); do
    kill -INT "${mr_pids[i]}" 2>/dev/null && wait "${mr_pids[i]}" 2>/dev/null
  done
  mr_pids=()
}

mr_account() {
  if ! id "$1" >/dev/null 2>&1; then
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
      --user-group "$1"
    echo "created the account $1"
  fi
}

mr_logon() {
  mr_account "$2"
  mkdir -p "$mr_root/users/$2"
  chown "$2:" "$mr_root/users/$2"
  "$mr_bin/oxtsession" logon "$1" "$2"
  mr_sessions+=("$1")
}

in_session() {
  local sid=$1 user=$2
  shift 2
  setpriv --reuid="$user" --regid="$user" --init-groups \
    env OMBRIX_SESSION="$sid" HOME="$mr_root/users/$user" \
    OMBRIX_UI_RECORD="$mr_root/users/$user/boxes.txt" QT_QPA_PLATFORM=offscreen "$@"
}
