#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts a private PostgreSQL server for the history tests in a fresh folder, on a port of its
# own (NORVEX_TEST_PG_PORT, default 54329, or the next free one), with a role and a database for
# the tests and a certificate of its own for "localhost", and prints the variables the tests read:
#   NORVEX_TEST_PG_URL   the database's URL
#   NORVEX_TEST_PG_CTL   a pg_ctl command line that stops ("stop") and starts ("start") it
#   NORVEX_TEST_PG_CERT  the server's certificate (to verify it with sslmode=verify-full)
#   NORVEX_TEST_PG_DIR   its folder, to remove once it is stopped
# Use: eval "$(bash scripts/postgres-test-server.sh)"; stop it with "$NORVEX_TEST_PG_CTL stop".
# The server cannot run as root: as root it runs as the postgres user.
set -euo pipefail
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$bindir/initdb" ] || { echo "PostgreSQL server programs not found (Debian package postgresql)" >&2; exit 1; }
port=${NORVEX_TEST_PG_PORT:-54329}
# Another server (another run's) may hold the port: the next free one is taken.
for _ in $(seq 1 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
    port=$((port + 1))
done
dir=$(mktemp -d /tmp/norvex-pg-XXXXXX)
chmod 0755 "$dir"
as=()
if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir"
    as=(runuser -u postgres --)
fi
"${as[@]}" "$bindir/initdb" -D "$dir/data" -A trust -U norvex -E UTF8 --no-locale >"$dir/initdb.log" 2>&1
cat >>"$dir/data/postgresql.conf" <<CONF
port = $port
listen_addresses = '127.0.0.1'
unix_socket_directories = '$dir'
fsync = off
CONF
# TLS with a certificate for "localhost", so that verify-full can be tried both ways.
cert=""
if command -v openssl >/dev/null; then
    "${as[@]}" openssl req -new -x509 -days 7 -nodes -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost" \
        -keyout "$dir/server.key" -out "$dir/server.crt" >"$dir/openssl.log" 2>&1
    chmod 0600 "$dir/server.key"
    chmod 0644 "$dir/server.crt"
    cat >>"$dir/data/postgresql.conf" <<CONF
ssl = on
ssl_cert_file = '$dir/server.crt'
ssl_key_file = '$dir/server.key'
CONF
    cert="$dir/server.crt"
fi
ctl="${as[*]} $bindir/pg_ctl -D $dir/data -l $dir/server.log"
$ctl start -w >/dev/null
"$bindir/createdb" -h 127.0.0.1 -p "$port" -U norvex norvex_test
echo "export NORVEX_TEST_PG_URL='postgresql://norvex@127.0.0.1:$port/norvex_test'"
echo "export NORVEX_TEST_PG_CTL='$ctl'"
echo "export NORVEX_TEST_PG_CERT='$cert'"
echo "export NORVEX_TEST_PG_DIR='$dir'"
