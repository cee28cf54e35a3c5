#!/usr/bin/env bash
# Starts or stops the throwaway database servers that the tests use, all on
# 127.0.0.1 and under build-services/: MariaDB (ports 3306 and 3307, the second
# for scripts that name a port) and PostgreSQL.
#   scripts/services.sh start   -> writes build-services/services.env
#   scripts/services.sh stop
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base="$root/build-services"
cmd=${1:-start}

stop() {
  if [ -f "$base/mysql/mysqld.pid" ]; then
    kill -TERM "$(cat "$base/mysql/mysqld.pid")" 2>/dev/null || true
  fi
  if [ -d "$base/pg/data" ]; then
    su postgres -s /bin/sh -c "/usr/lib/postgresql/15/bin/pg_ctl -D '$base/pg/data' -m fast stop" >/dev/null 2>&1 || true
  fi
  for _ in $(seq 1 50); do
    pgrep -f "$base" >/dev/null 2>&1 || break
    sleep 0.1
  done
}

start_mysql() {
  local d="$base/mysql"
  rm -rf "$d"; mkdir -p "$d/data"; chown -R mysql:mysql "$d"
  mariadb-install-db --no-defaults --user=mysql --datadir="$d/data" \
      --auth-root-authentication-method=normal --skip-test-db >"$d/install.log" 2>&1
  setsid /usr/sbin/mariadbd --no-defaults --user=mysql --datadir="$d/data" \
      --socket="$d/mysqld.sock" --port=3306 --extra-port=3307 --extra-max-connections=20 \
      --bind-address=127.0.0.1 \
      --pid-file="$d/mysqld.pid" --log-error="$d/err.log" --skip-name-resolve \
      --character-set-server=utf8mb4 </dev/null >/dev/null 2>&1 &
  for _ in $(seq 1 100); do
    mariadb-admin --no-defaults -S "$d/mysqld.sock" ping >/dev/null 2>&1 && break
    sleep 0.1
  done
  mariadb --no-defaults -S "$d/mysqld.sock" -u root <<'SQL'
CREATE DATABASE IF NOT EXISTS qptest;
CREATE USER IF NOT EXISTS 'qp'@'127.0.0.1' IDENTIFIED BY 'qp';
GRANT ALL PRIVILEGES ON *.* TO 'qp'@'127.0.0.1';
FLUSH PRIVILEGES;
SQL
}

start_pg() {
  local d="$base/pg"
  rm -rf "$d"; mkdir -p "$d"; chown postgres:postgres "$d"
  echo qp > "$d/pw"; chown postgres:postgres "$d/pw"
  su postgres -s /bin/sh -c "/usr/lib/postgresql/15/bin/initdb -D '$d/data' -U postgres -A scram-sha-256 --pwfile='$d/pw' -E UTF8 --locale=C.UTF-8" >"$d/initdb.log" 2>&1
  su postgres -s /bin/sh -c "/usr/lib/postgresql/15/bin/pg_ctl -D '$d/data' -l '$d/log' -o \"-p 55432 -k '$d' -c listen_addresses=127.0.0.1\" -w start" >/dev/null
  PGPASSWORD=qp psql -h 127.0.0.1 -p 55432 -U postgres -qc "CREATE DATABASE qptest" >/dev/null
}

case "$cmd" in
  start)
    stop
    # A server that the package's installation may have started would hold
    # port 3306; the tests use their own throwaway instance.
    service mariadb stop >/dev/null 2>&1 || true
    mkdir -p "$base"
    start_mysql
    start_pg
    cat > "$base/services.env" <<ENV
export QP_MYSQL_HOST=127.0.0.1
export QP_MYSQL_PORT=3306
export QP_MYSQL_PORT2=3307
export QP_MYSQL_USER=qp
export QP_MYSQL_PASSWORD=qp
export QP_MYSQL_DATABASE=qptest
export QP_PG_HOST=127.0.0.1
export QP_PG_PORT=55432
export QP_PG_USER=postgres
export QP_PG_PASSWORD=qp
export QP_PG_DATABASE=qptest
ENV
    ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
