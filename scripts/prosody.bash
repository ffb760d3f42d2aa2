# A throwaway Prosody for the scripts that show the program at work (sourced,
# not run): one virtual host, "localhost", served to clients on 127.0.0.1
# only, with configuration, data, pid file and log in a folder of its own.
# The system's own Prosody instance is never used.
#
#   start_prosody     starts it on a free loopback port, sets prosody_port
#   stop_prosody      stops it by its process id and removes its folder
#   free_port         prints a loopback port where nothing listens
#   listening PORT    true when 127.0.0.1:PORT accepts connections

prosody_pid=""
prosody_port=""
prosody_folder=""

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
  local port
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 40000))
    listening "$port" || { echo "$port"; return 0; }
  done
  echo "no free loopback port found" >&2
  return 1
}

# Another program may take the free port before Prosody does: then it is
# tried again on another one.
start_prosody() {
  prosody_folder=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-prosody-XXXXXX")
  mkdir -p "$prosody_folder/data" "$prosody_folder/certs"
  for _ in 1 2 3; do
    start_prosody_once && return 0
    stop_prosody_process
  done
  echo "Prosody did not come up" >&2
  cat "$prosody_folder/console.log" "$prosody_folder/prosody.log" >&2 2>/dev/null || true
  return 1
}

start_prosody_once() {
  prosody_port=$(free_port)
  rm -f "$prosody_folder/prosody.log"
  cat >"$prosody_folder/prosody.cfg.lua" <<CFG
run_as_root = true
pidfile = "$prosody_folder/prosody.pid"
data_path = "$prosody_folder/data"
log = { { levels = { min = "info" }, to = "file", filename = "$prosody_folder/prosody.log" } }
interfaces = { "127.0.0.1" }
local_interfaces = { "127.0.0.1" }
c2s_ports = { $prosody_port }
c2s_direct_tls_ports = { }
legacy_ssl_ports = { }
s2s_ports = { }
modules_enabled = { "saslauth" }
c2s_require_encryption = false
allow_unencrypted_plain_auth = true
modules_disabled = { "s2s", "s2s_auth_certs", "offline" }
VirtualHost "localhost"
CFG
  (cd "$prosody_folder" && exec prosody -F --config "$prosody_folder/prosody.cfg.lua" \
    >"$prosody_folder/console.log" 2>&1) &
  prosody_pid=$!
  # Up when Prosody says it serves the port (someone else may listen there)
  # and the port accepts.
  for _ in $(seq 300); do
    grep -qF "[127.0.0.1]:$prosody_port" "$prosody_folder/prosody.log" 2>/dev/null &&
      listening "$prosody_port" && return 0
    kill -0 "$prosody_pid" 2>/dev/null || return 1
    grep -q 'Failed to open server port' "$prosody_folder/prosody.log" 2>/dev/null && return 1
    sleep 0.1
  done
  return 1
}

stop_prosody_process() {
  if [ -n "$prosody_pid" ]; then
    kill "$prosody_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$prosody_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$prosody_pid" 2>/dev/null || true
    wait "$prosody_pid" 2>/dev/null || true
    prosody_pid=""
  fi
}

stop_prosody() {
  stop_prosody_process
  if [ -n "$prosody_folder" ]; then
    rm -rf "$prosody_folder"
    prosody_folder=""
  fi
}
