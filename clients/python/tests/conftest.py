"""The real server for the driver's tests: `velmora --headless` started in a fresh application
folder on a free 127.0.0.1 port, on an SQLite database it creates (or on a PostgreSQL database of
the run's cluster, for the procedure tests), stopped with SIGTERM at the end, when it must exit 0.

VELMORA_SERVER_BIN names the program (CTest sets it); without it the tests are skipped. A sanitizer
build of the server reads ASAN_OPTIONS and LSAN_OPTIONS from this environment; the project's
suppressions are added when LSAN_OPTIONS names none, so a leak report fails the stop.
"""

import itertools
import os
import pathlib
import signal
import socket
import subprocess
import sys
import time

import pytest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))

import velmora  # noqa: E402

REPO = HERE.parent.parent.parent
READY = ">>>服务启动完成"


def pytest_configure(config):
    config.addinivalue_line("markers", "pg: needs the run's PostgreSQL cluster")
    config.addinivalue_line("filterwarnings", "error::pytest.PytestUnhandledThreadExceptionWarning")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def server_environment():
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    if "suppressions=" not in env.get("LSAN_OPTIONS", ""):
        extra = "suppressions=%s:print_suppressions=0" % (REPO / "tests" / "lsan.supp")
        env["LSAN_OPTIONS"] = ":".join(filter(None, [env.get("LSAN_OPTIONS"), extra]))
    return env


class Server:
    """One running program in its own application folder."""

    def __init__(self, folder, database_lines, config_lines=()):
        program = os.environ.get("VELMORA_SERVER_BIN")
        if not program:
            pytest.skip("VELMORA_SERVER_BIN is not set (run under ctest)")
        self.folder = pathlib.Path(folder)
        self.port = free_port()
        (self.folder / "Upload").mkdir()
        config = ["[CONFIG]", "SVROPENPORT=%d" % self.port, *config_lines]
        (self.folder / "CONFIG.CFG").write_bytes(("\r\n".join(config) + "\r\n").encode())
        (self.folder / "DataBase.CFG").write_bytes(("\r\n".join(database_lines) + "\r\n").encode())
        self.out_path = self.folder / ".server.out"
        self.err_path = self.folder / ".server.err"
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen(
                [program, "--headless", "--app-dir", str(self.folder)], stdout=out, stderr=err,
                stdin=subprocess.DEVNULL, env=server_environment())
        until = time.monotonic() + 60
        while READY not in self.out_path.read_text(errors="replace"):
            if self.process.poll() is not None or time.monotonic() > until:
                self.process.kill()
                self.process.wait()
                pytest.fail("the server did not start:\n" + self.log())
            time.sleep(0.05)

    def log(self):
        return (self.out_path.read_text(errors="replace") + self.err_path.read_text(
            errors="replace"))

    def connect(self, **kwargs):
        return velmora.connect("127.0.0.1", self.port, "admin", "velmo", **kwargs)

    def stop(self):
        """SIGTERM; the exit code (the program's log on failure is in `log()`)."""
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return -1


def sqlite_lines(folder):
    return ["DriverID=SQLite", "Database=%s" % (folder / "velmora.db"), "CreateDatabase=Yes"]


def run_server(folder, lines, config_lines=()):
    """Starts a server, yields it, and checks that it stops cleanly."""
    server = Server(folder, lines, config_lines)
    yield server
    code = server.stop()
    assert code == 0, "the server exited with %d:\n%s" % (code, server.log())


@pytest.fixture(scope="session")
def server(tmp_path_factory):
    folder = tmp_path_factory.mktemp("app")
    yield from run_server(folder, sqlite_lines(folder))


@pytest.fixture
def conn(server):
    connection = server.connect()
    yield connection
    connection.close()


_tables = itertools.count(1)


@pytest.fixture
def table_name(request):
    """A table name of this test's own, so that tests never see each other's rows."""
    return "t%d_%s" % (next(_tables), request.node.name.split("[")[0].replace("test_", "")[:40])


def _pg_cluster():
    folder = os.environ.get("VELMORA_PG_CLUSTER")
    if not folder or not os.path.exists(os.path.join(folder, "server.env")):
        return None
    settings = {}
    for line in open(os.path.join(folder, "server.env")):
        name, _, value = line.strip().partition("=")
        settings[name] = value
    return settings


def psql(cluster, database, sql):
    subprocess.run(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", cluster["PGHOST"], "-p",
                    cluster["PGPORT"], "-U", cluster["PGUSER"], "-d", database, "-c", sql],
                   check=True, capture_output=True)


@pytest.fixture(scope="session")
def pg_server(tmp_path_factory):
    """The server on a fresh database of the run's PostgreSQL cluster (skips without one)."""
    cluster = _pg_cluster()
    if cluster is None:
        pytest.skip("no PostgreSQL cluster for this run (VELMORA_PG_CLUSTER; ctest starts one): "
                    "the stored procedure tests need an engine that has procedures")
    name = "velmora_py_%d" % os.getpid()
    psql(cluster, "postgres", "CREATE DATABASE %s TEMPLATE template0 ENCODING 'UTF8'" % name)
    try:
        folder = tmp_path_factory.mktemp("pgapp")
        yield from run_server(folder, ["DriverID=PG", "Server=127.0.0.1",
                                        "Port=%s" % cluster["PGPORT"], "Database=%s" % name,
                                        "User_Name=%s" % cluster["PGUSER"]])
    finally:
        psql(cluster, "postgres", "DROP DATABASE IF EXISTS %s WITH (FORCE)" % name)
