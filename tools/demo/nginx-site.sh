#!/usr/bin/env bash
# An https download site for the demo, served by nginx the way the README's
# example site serves a portal's downloads (Content-Length on every answer,
# no compression, manifests not cached), on a free loopback port.
#
# Usage:
#   nginx-site.sh start [--rate BYTES] WWW_DIR CERT KEY STATE_DIR
#       Writes STATE_DIR/nginx.conf and runs nginx in the foreground (daemon
#       off) as this script's child, with its pid, logs and temporary files in
#       STATE_DIR. Once the site answers, prints its base address
#       (https://127.0.0.1:PORT/) and writes it to STATE_DIR/url, then waits.
#       Run it in the background: stopping it (TERM, INT, or `stop`) stops
#       nginx. --rate slows every file but the manifests to BYTES a second.
#       CERT and KEY both "-": plain http (the launcher takes it from loopback
#       only), for runs without the test certificates.
#   nginx-site.sh stop STATE_DIR
#       Stops a site started with STATE_DIR and waits until nginx has ended.
# CERT and KEY are PEM files; CERT may hold the chain. Exit 2: wrong use;
# 1: nginx is missing or did not start (its log is shown).
set -euo pipefail

die() { echo "nginx-site: $*" >&2; exit "${2:-1}"; }
usage() { die "usage: nginx-site.sh start [--rate BYTES] WWW_DIR CERT|- KEY|- STATE_DIR | stop STATE_DIR" 2; }

[[ $# -ge 1 ]] || usage
command=$1
shift

if [[ $command == stop ]]; then
  [[ $# -eq 1 ]] || usage
  runner=$(cat "$1/runner.pid" 2>/dev/null) || die "no site runs with the state folder $1"
  kill "$runner" 2>/dev/null || exit 0
  # The runner ends after nginx; wait for both, at most 10 s.
  for _ in $(seq 200); do
    kill -0 "$runner" 2>/dev/null || exit 0
    sleep 0.05
  done
  die "the site of $1 did not stop"
fi

[[ $command == start ]] || usage
rate=0
if [[ ${1:-} == --rate ]]; then
  [[ ${2:-} =~ ^[0-9]+$ ]] || usage
  rate=$2
  shift 2
fi
[[ $# -eq 4 ]] || usage
scheme=https
if [[ $2 == - && $3 == - ]]; then
  scheme=http
else
  for f in "$2" "$3"; do [[ -r $f ]] || die "cannot read $f" 2; done
fi
[[ -d $1 ]] || die "no such folder: $1" 2
mkdir -p "$4"
www=$(cd "$1" && pwd)
state=$(cd "$4" && pwd)
tls=
if [[ $scheme == https ]]; then
  tls="ssl_certificate $(cd "$(dirname "$2")" && pwd)/$(basename "$2");
        ssl_certificate_key $(cd "$(dirname "$3")" && pwd)/$(basename "$3");"
fi

nginx_bin=$(command -v nginx || true)
[[ -n $nginx_bin ]] || nginx_bin=/usr/sbin/nginx
[[ -x $nginx_bin ]] || die "nginx is not installed (Debian package nginx-light; make deps installs it)"

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# As root the workers would drop to nobody, who may not enter the build tree;
# the demo's site serves only the build tree, on loopback, so they stay.
user_line=
if [[ $(id -u) -eq 0 ]]; then user_line='user root root;'; fi

write_config() {  # port
  mkdir -p "$state/temp"
  cat >"$state/nginx.conf" <<CONF
# Written by tools/demo/nginx-site.sh for one run of the demo.
$user_line
daemon off;
master_process on;
worker_processes 1;
pid $state/nginx.pid;
error_log $state/error.log warn;
events { worker_connections 64; }
http {
    access_log $state/access.log;
    client_body_temp_path $state/temp/body;
    proxy_temp_path $state/temp/proxy;
    fastcgi_temp_path $state/temp/fastcgi;
    uwsgi_temp_path $state/temp/uwsgi;
    scgi_temp_path $state/temp/scgi;
    types {
        text/html html;
        text/plain txt sig;
        application/javascript js;
        application/zip zip;
    }
    default_type application/octet-stream;
    sendfile on;
    gzip off;                      # keeps Content-Length on every answer
    chunked_transfer_encoding off;

    server {
        listen 127.0.0.1:$1${tls:+ ssl};
        server_name 127.0.0.1;
        $tls
        root $www;

        location /manifests/ {
            add_header Cache-Control "no-cache";
        }
        location / {
            limit_rate $rate;
            try_files \$uri =404;
        }
    }
}
CONF
}

nginx_pid=
stop_nginx() {
  if [[ -n $nginx_pid ]]; then
    kill -TERM "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=
  fi
  rm -f "$state/runner.pid" "$state/url"
}
trap stop_nginx EXIT
trap 'exit 0' TERM INT

echo $$ >"$state/runner.pid"
# A free port can be taken between the look and nginx's bind: try again then.
for attempt in 1 2 3 4 5; do
  port=$(free_port)
  write_config "$port"
  : >"$state/error.log"
  "$nginx_bin" -p "$state" -e "$state/error.log" -c "$state/nginx.conf" </dev/null >>"$state/error.log" 2>&1 &
  nginx_pid=$!
  for _ in $(seq 200); do
    kill -0 "$nginx_pid" 2>/dev/null || break
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$scheme://127.0.0.1:$port/" | tee "$state/url"
      wait "$nginx_pid" || true
      nginx_pid=
      die "nginx ended by itself (see $state/error.log)"
    fi
    sleep 0.05
  done
  if kill -0 "$nginx_pid" 2>/dev/null; then stop_nginx; die "nginx did not answer on port $port within 10 s"; fi
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=
  grep -q 'Address already in use' "$state/error.log" || break
done
echo "nginx-site: nginx did not start:" >&2
cat "$state/error.log" >&2
exit 1
