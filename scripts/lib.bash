# What the scripts share (sourced, not run): the Debian packages each of them
# needs, loopback ports, configuration templates and a throwaway Prosody.
#
#   need PART...             installs what the PARTs need (tolvane_packages)
#   fail MESSAGE             says what went wrong, names the script, exits 1
#   accepts PORT             true when 127.0.0.1:PORT accepts connections
#   free_port                prints a loopback port where nothing listens
#   wait_for_port PORT PID   true once 127.0.0.1:PORT accepts, within 30 s,
#                            false as soon as process PID has ended
#   listen_addresses PID     the TCP addresses process PID listens on
#   fill_template FILE ARG...  prints a configuration template filled in
#   start_prosody [CERTIFICATE KEY [PART...]]  a throwaway Prosody, see below
#   register_prosody_user NAME PASSWORD  an account on it (NAME@localhost)
#   stop_prosody             stops it by its process id, removes its folder

tolvane_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What each script needs from Debian, by part: a native build (the tests
# are configured with it), then what one script or step needs beyond it.
declare -A tolvane_packages=(
  [build]="cmake ninja-build g++ libgtest-dev libssl-dev"
  # The native suite: the real servers, the openssl command for the TLS
  # tests' certificates and TLS 1.2 test server, /usr/bin/time and valgrind
  # for the soak tests; dnsmasq-base, the SRV tests' name server, in a
  # network namespace of their own (tests/support/in_dns_namespace).
  [tests]="prosody ejabberd openssl time valgrind dnsmasq-base"
  [demo]="prosody"
  [soak]="prosody time valgrind"
  # libexpat1-dev: the element reader's fuzz target checks it against expat.
  [fuzz]="cmake ninja-build clang libclang-rt-14-dev libssl-dev libexpat1-dev"
  [windows]="g++-mingw-w64-x86-64 googletest wine64"
  [package]="dpkg-dev lintian man-db groff-base file prosody"
  [bench]="prosody hyperfine time openssl valgrind"
)

need() {
  local part packages=() more
  for part; do
    [ -n "${tolvane_packages[$part]+set}" ] || fail "no packages are listed for '$part'"
    read -ra more <<<"${tolvane_packages[$part]}"
    packages+=("${more[@]}")
  done
  "$tolvane_root/scripts/needs" "${packages[@]}"
}

fail() {
  echo "$(basename "$(dirname "$0")")/$(basename "$0"): $*" >&2
  exit 1
}

accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
  local port
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 40000))
    accepts "$port" || { echo "$port"; return 0; }
  done
  echo "no free loopback port found" >&2
  return 1
}

wait_for_port() {
  for _ in $(seq 300); do
    accepts "$1" && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# From /proc alone: no tool such as ss needs to be installed.
listen_addresses() {
  local inodes local_addr st rest inode ip hexport table
  inodes=" $(find "/proc/$1/fd" -lname 'socket:*' -printf '%l ' 2>/dev/null | sed 's/socket:\[\([0-9]*\)\]/\1/g') "
  for table in /proc/net/tcp /proc/net/tcp6; do
    [ -r "$table" ] || continue
    while read -r _ local_addr _ st rest; do
      [ "$st" = 0A ] || continue
      read -r _ _ _ _ _ inode _ <<<"$rest"
      [[ $inodes == *" $inode "* ]] || continue
      ip=${local_addr%:*} hexport=${local_addr#*:}
      if [ ${#ip} -eq 8 ]; then
        echo "$((16#${ip:6:2})).$((16#${ip:4:2})).$((16#${ip:2:2})).$((16#${ip:0:2})):$((16#$hexport))"
      else
        echo "[$ip]:$((16#$hexport))"
      fi
    done < <(tail -n +2 "$table")
  done
}

# The same templates serve the tests' fixtures (tests/support/*.in, filled
# in by config_template.h there): an ARG NAME=VALUE fills in @NAME@, an ARG
# WITH_NAME keeps the lines that begin with @WITH_NAME@ (without the mark),
# and the lines of parts not named go. A value the template names but the
# ARGs do not give is an error.
fill_template() {
  local file=$1 arg line out
  shift
  local -A values=() parts=()
  for arg; do
    if [[ $arg == *=* ]]; then values[${arg%%=*}]=${arg#*=}; else parts[$arg]=1; fi
  done
  while IFS= read -r line; do
    if [[ $line =~ ^@(WITH_[A-Z0-9_]+)@(.*)$ ]]; then
      [ -n "${parts[${BASH_REMATCH[1]}]:-}" ] || continue
      line=${BASH_REMATCH[2]}
    fi
    out=""
    while [[ $line =~ ^([^@]*)@([A-Z0-9_]+)@(.*)$ && -n "${values[${BASH_REMATCH[2]}]+set}" ]]; do
      out+=${BASH_REMATCH[1]}${values[${BASH_REMATCH[2]}]}
      line=${BASH_REMATCH[3]}
    done
    if [[ $line =~ @([A-Z0-9_]+)@ ]]; then
      echo "$file: no value for @${BASH_REMATCH[1]}@" >&2
      return 1
    fi
    printf '%s\n' "$out$line"
  done <"$file"
}

# A throwaway Prosody, configured as the tests' own (without their options):
# one virtual host, "localhost", for clients on a free 127.0.0.1 port
# ($prosody_port) and nothing else, its configuration, data, pid file and
# log in a folder of its own. Given a certificate and its key (PEM files),
# it offers STARTTLS with them; further arguments name parts of the template
# (WITH_STOCK: set up as a stock installation). The system's own instance is
# never used.
prosody_pid=""
prosody_port=""
prosody_folder=""

start_prosody() {
  local with=(WITH_NO_S2S) listens
  [ $# -eq 0 ] || with+=(WITH_STARTTLS WITH_CERTIFICATE "CERTIFICATE=$1" "KEY=$2" "${@:3}")
  prosody_folder=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-prosody-XXXXXX")
  mkdir -p "$prosody_folder/data" "$prosody_folder/certs"
  # Another program may take the free port before Prosody does: then it is
  # tried again on another one.
  for _ in 1 2 3; do
    prosody_port=$(free_port)
    fill_template "$tolvane_root/tests/support/prosody.cfg.lua.in" "FOLDER=$prosody_folder" \
      "PORT=$prosody_port" LOG_LEVEL=info "${with[@]}" >"$prosody_folder/prosody.cfg.lua" || return 1
    (cd "$prosody_folder" && exec prosody -F --config "$prosody_folder/prosody.cfg.lua" \
      >>"$prosody_folder/console.log" 2>&1) &
    prosody_pid=$!
    if wait_for_port "$prosody_port" "$prosody_pid"; then
      listens=$(listen_addresses "$prosody_pid" | sort -u | paste -sd' ')
      [ "$listens" = "127.0.0.1:$prosody_port" ] && return 0
      if [[ " $listens " == *" 127.0.0.1:$prosody_port "* ]]; then
        echo "Prosody listens on $listens, not on 127.0.0.1:$prosody_port alone" >&2
        stop_prosody
        return 1
      fi
    fi
    stop_prosody_process
  done
  echo "Prosody did not come up" >&2
  cat "$prosody_folder/console.log" "$prosody_folder/prosody.log" >&2 2>/dev/null || true
  return 1
}

# With the instance's own configuration: a bare prosodyctl would act on the
# system's instance.
register_prosody_user() {
  prosodyctl --config "$prosody_folder/prosody.cfg.lua" register "$1" localhost "$2" \
    >>"$prosody_folder/console.log" 2>&1
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
