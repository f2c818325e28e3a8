#!/usr/bin/env bash
# Starts or stops a private Dovecot on 127.0.0.1 (for the tests and the demo):
#   dovecot.sh start STATE_DIR PORT [POP3S_PORT]     dovecot.sh stop STATE_DIR
# Users (password): native (n4tive-pass), wine (w1ne-pass), demo (demo), each with a Maildir
# (STATE_DIR/home/USER/Maildir) whose messages the caller puts in. With POP3S_PORT it also speaks
# TLS, with certificates from a certificate authority made afresh for the run (STATE_DIR/ca.pem),
# and a small web server on a free loopback port serves that authority's revocation list.
set -euo pipefail
action=$1 state=$2 port=${3:-41110} pop3s_port=${4:-}
here=$(cd "$(dirname "$0")" && pwd)

stop() {
  [ -f "$state/root" ] || return 0
  local root pid
  root=$(cat "$state/root")
  if [ -f "$root/run/crl.pid" ]; then
    kill "$(cat "$root/run/crl.pid")" 2>/dev/null || true
  fi
  if [ -f "$root/run/master.pid" ]; then
    pid=$(cat "$root/run/master.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  case $root in /tmp/pollwick-dovecot.*) rm -rf "$root" ;; esac
  rm -f "$state/root"
}

# The run's CA; certificates from it for "localhost" and for another name, an expired one for
# 127.0.0.3; a self-signed one for 127.0.0.2; one for 127.0.0.4 from a second CA that nobody trusts,
# and one for 127.0.0.9 from that CA with the CA's own certificate behind it; from the run's CA
# again, for 127.0.0.5 and .6, and for 127.0.0.7, revoked, and 127.0.0.8, both naming a revocation
# list on CRL_URL (the one for .8 is never there). The list goes to CRL_DIR.
make_pki() {  # DIR CRL_URL CRL_DIR
  mkdir -p "$1" && cd "$1"
  authority() {  # NAME
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 -subj "/CN=Pollwick $1" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  }
  leaf() {  # NAME SUBJECT_ALT_NAME DAYS [AUTHORITY [EXTENSION]]
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" 2>/dev/null
    printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n%s\n' "$2" "${5:-}" >"$1.ext"
    openssl x509 -req -in "$1.csr" -CA "${4:-ca}.pem" -CAkey "${4:-ca}.key" -CAcreateserial -days "$3" \
      -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  }
  authority ca
  authority nobody
  leaf server DNS:localhost 2
  leaf other DNS:other.invalid 2
  leaf expired IP:127.0.0.3 -1
  leaf stranger IP:127.0.0.4 2 nobody
  leaf chained IP:127.0.0.9 2 nobody
  cat chained.pem nobody.pem >chained-chain.pem
  # Wine matches a server's name against DNS names only: the addresses are named as both.
  leaf modern IP:127.0.0.5,DNS:127.0.0.5 2
  leaf asking IP:127.0.0.6,DNS:127.0.0.6 2
  leaf revoked IP:127.0.0.7,DNS:127.0.0.7 2 ca "crlDistributionPoints=URI:$2/ca.crl"
  leaf unlisted IP:127.0.0.8,DNS:127.0.0.8 2 ca "crlDistributionPoints=URI:$2/missing.crl"
  printf '[ca]\ndefault_ca=run\n[run]\ndatabase=index.txt\ncrlnumber=crlnumber\ndefault_md=sha256\ndefault_crl_days=2\n' >ca.cnf
  : >index.txt
  echo 01 >crlnumber
  openssl ca -config ca.cnf -keyfile ca.key -cert ca.pem -revoke revoked.pem 2>/dev/null
  openssl ca -config ca.cnf -keyfile ca.key -cert ca.pem -gencrl -out ca.crl.pem 2>/dev/null
  openssl crl -in ca.crl.pem -outform DER -out "$3/ca.crl"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out self.pem -days 2 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.2" 2>/dev/null
  openssl dhparam -dsaparam -out dh.pem 2048 2>/dev/null
  chmod 644 ./*.pem
  cd - >/dev/null
}

case $action in
start)
  stop
  rm -rf "$state"
  mkdir -p "$state"
  # Dovecot's users must reach its files whatever the modes of the caller's directories (a fresh
  # mktemp directory is private), so they live under /tmp.
  root=$(mktemp -d /tmp/pollwick-dovecot.XXXXXX)
  chmod 755 "$root"
  echo "$root" >"$state/root"
  mkdir -p "$root/run" "$root/state" "$root/home"
  ln -s "$root/home" "$state/home"
  tls='/^#tls /d'
  if [ -n "$pop3s_port" ]; then
    # The list's server first: its port goes into the certificates.
    mkdir -p "$root/crl"
    setsid python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$root/crl" </dev/null >"$state/crl.log" 2>&1 &
    echo $! >"$root/run/crl.pid"
    crl_port=
    for _ in $(seq 50); do
      crl_port=$(sed -n 's/^Serving HTTP on .* port \([0-9]*\) .*/\1/p' "$state/crl.log")
      [ -n "$crl_port" ] && break
      sleep 0.1
    done
    [ -n "$crl_port" ] || { echo "the revocation list server did not start" >&2; cat "$state/crl.log" >&2; stop; exit 1; }
    make_pki "$root/pki" "http://127.0.0.1:$crl_port" "$root/crl"
    cp "$root/pki/ca.pem" "$state/ca.pem"
    tls='s/^#tls //'
  fi
  sed -e "$tls" -e "s|@STATE@|$root|g" -e "s|@PORT@|$port|g" -e "s|@POP3S_PORT@|$pop3s_port|g" \
    "$here/dovecot.conf.in" >"$root/dovecot.conf"
  : >"$root/passwd"
  for entry in native:n4tive-pass wine:w1ne-pass demo:demo; do
    echo "${entry%%:*}:{PLAIN}${entry#*:}::::::" >>"$root/passwd"
    mkdir -p "$root/home/${entry%%:*}/Maildir/"{new,cur,tmp}
  done
  # The callers (root, or Wine as root) put messages in; Dovecot runs as nobody and must manage them.
  chmod -R a+rwX "$root/home"
  chmod a+r "$root/passwd"
  echo "$port $pop3s_port" >"$state/ports"
  # Not a pipe of the caller: a test runner would wait for the daemon to close it.
  dovecot -c "$root/dovecot.conf" </dev/null >>"$state/dovecot.out" 2>&1
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then exit 0; fi
    sleep 0.1
  done
  echo "dovecot did not start listening on 127.0.0.1:$port" >&2
  cat "$root/dovecot.log" >&2 || true
  stop
  exit 1
  ;;
stop)
  stop
  ;;
esac
