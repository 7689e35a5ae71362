#!/bin/sh
# Starts and stops the local origin for the tests, on 127.0.0.1 at free ports:
#   nginx       serving MEDIA_DIR under /media/ and tests/fixtures under /fixtures/
#   faults      the fault server (tests/origin/fault_server.py), plain HTTP
#   tls         the fault server over HTTPS with a certificate made here (ca.pem)
# Each server's base URL is written to ORIGIN_DIR/<name>.url, its PID to <name>.pid.
#   origin.sh start ORIGIN_DIR MEDIA_DIR
#   origin.sh stop  ORIGIN_DIR
set -eu
command=${1:?usage: origin.sh start|stop ORIGIN_DIR [MEDIA_DIR]}
dir=${2:?usage: origin.sh start|stop ORIGIN_DIR [MEDIA_DIR]}
here=$(cd "$(dirname "$0")" && pwd)
source_root=$(cd "$here/../.." && pwd)

# Signals every server first, then waits for each: they take their time to exit.
stop_all() {
    for name in nginx faults tls; do
        [ -f "$dir/$name.pid" ] && kill "$(cat "$dir/$name.pid")" 2>/dev/null || true
    done
    for name in nginx faults tls; do
        pidfile="$dir/$name.pid"
        [ -f "$pidfile" ] || continue
        pid=$(cat "$pidfile")
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        rm -f "$pidfile" "$dir/$name.url"
    done
}

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits until FILE exists and the server behind it answers a connection.
wait_for() {
    for _ in $(seq 1 100); do
        if [ -s "$1" ] && python3 - "$(cat "$1")" <<'PY' 2>/dev/null
import socket, sys, urllib.parse
u = urllib.parse.urlsplit(sys.argv[1])
socket.create_connection((u.hostname, u.port), timeout=1).close()
PY
        then return 0; fi
        sleep 0.1
    done
    echo "origin: $1 never came up" >&2
    return 1
}

case "$command" in
stop)
    stop_all
    ;;
start)
    media=${3:?usage: origin.sh start ORIGIN_DIR MEDIA_DIR}
    stop_all
    "$here/make-media.sh" "$media"
    media=$(cd "$media" && pwd)
    mkdir -p "$dir/www" "$dir/nginx" "$dir/tls"
    ln -sfn "$media" "$dir/www/media"
    ln -sfn "$source_root/tests/fixtures" "$dir/www/fixtures"

    port=$(free_port)
    run="$dir/nginx"
    cat > "$run/nginx.conf" <<CONF
worker_processes 1; daemon off; pid $run/nginx.pid; error_log $run/error.log warn;
events { worker_connections 256; }
http {
  access_log $run/access.log;
  client_body_temp_path $run/cb; proxy_temp_path $run/px; fastcgi_temp_path $run/fc;
  uwsgi_temp_path $run/uw; scgi_temp_path $run/sc;
  types { } default_type video/mp4;
  server { listen 127.0.0.1:$port; root $dir/www;
           location ~ /Manifest\$ { default_type text/xml; add_header Cache-Control no-cache; } }
}
CONF
    nginx -c "$run/nginx.conf" -p "$run" >"$run/stdout.log" 2>&1 </dev/null &
    echo $! > "$dir/nginx.pid"
    echo "http://127.0.0.1:$port/" > "$dir/nginx.url"
    wait_for "$dir/nginx.url"

    if [ ! -f "$dir/tls/ca.pem" ]; then
        openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj /CN=localhost \
            -addext subjectAltName=DNS:localhost,IP:127.0.0.1 \
            -keyout "$dir/tls/key.pem" -out "$dir/tls/ca.pem" >/dev/null 2>&1
    fi
    rm -f "$dir/faults.url" "$dir/tls.url"
    python3 "$here/fault_server.py" --port-file "$dir/faults.url" --root "$dir/www" \
        >"$dir/faults.log" 2>&1 </dev/null &
    echo $! > "$dir/faults.pid"
    python3 "$here/fault_server.py" --port-file "$dir/tls.url" \
        --tls "$dir/tls/ca.pem" "$dir/tls/key.pem" >"$dir/tls.log" 2>&1 </dev/null &
    echo $! > "$dir/tls.pid"
    wait_for "$dir/faults.url"
    wait_for "$dir/tls.url"
    ;;
*)
    echo "usage: origin.sh start|stop ORIGIN_DIR [MEDIA_DIR]" >&2
    exit 2
    ;;
esac
