#!/bin/sh
# Starts or stops the host's test service server for the Windows tests, which
# find its address in STATE_DIR/url and serve the files they put in
# STATE_DIR/root; the server signs each with SIGN_KEY, the private key the
# Windows build verifies with. ctest runs "start" before and "stop" after
# those tests.
#   test_server_fixture.sh start STATE_DIR SERVER_EXE SIGN_KEY
#   test_server_fixture.sh stop STATE_DIR
set -eu
action=$1
state=$2

stop() {
  if [ -f "$state/pid" ]; then
    pid=$(cat "$state/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$state/pid"
  fi
  rm -f "$state/url"
}

case "$action" in
  start)
    stop
    rm -rf "$state/root"
    mkdir -p "$state/root"
    # A lifetime bounds it should the stop step never run.
    setsid "$3" --root "$state/root" --port 0 --sign-key "$4" --lifetime 1800 </dev/null >"$state/url.new" 2>"$state/log" &
    echo $! >"$state/pid"
    for _ in $(seq 100); do
      if grep -q '^http://' "$state/url.new" 2>/dev/null; then
        mv "$state/url.new" "$state/url"
        echo "test server at $(cat "$state/url")"
        exit 0
      fi
      sleep 0.1
    done
    echo "the test server did not start:" >&2
    cat "$state/log" >&2
    stop
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start STATE_DIR SERVER_EXE SIGN_KEY | stop STATE_DIR" >&2
    exit 2
    ;;
esac
