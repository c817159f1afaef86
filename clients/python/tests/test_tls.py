"""TLS: the driver checks the server's certificate against the CA it is given and the address it
connected to; a plain client on a TLS server fails at once."""

import subprocess

import pytest

import velmora
from conftest import run_server, sqlite_lines


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


@pytest.fixture(scope="module")
def tls_server(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tlsapp")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Test CA",
            "-keyout", "ca.key", "-out", "ca.pem", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
            "server.key", "-out", "server.csr", cwd=folder)
    (folder / "san.cnf").write_text("subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "san.cnf", "-out", "server.pem",
            cwd=folder)
    # A second CA that signed nothing the server shows.
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
            "/CN=Other CA", "-keyout", "other.key", "-out", "other.pem", cwd=folder)
    yield from run_server(folder, sqlite_lines(folder),
                          ["[TLS]", "CertificateFile=server.pem", "PrivateKeyFile=server.key"])


def test_tls_session_with_the_servers_ca(tls_server):
    with tls_server.connect(tls=True, cafile=str(tls_server.folder / "ca.pem")) as conn:
        cur = conn.cursor()
        cur.execute("SELECT ?, ?", ["über", b"\x00\x01"])
        assert cur.fetchall() == [("über", b"\x00\x01")]
        assert conn.upload("tls.bin", b"x" * 100_000) is True
        assert conn.download("tls.bin") == b"x" * 100_000


@pytest.mark.parametrize("options,text", [
    ({"tls": True, "cafile": "other.pem"}, "certificate verify failed"),
    ({}, ""),
], ids=["unknown CA", "plain client"])
def test_refused_tls_sessions(tls_server, options, text):
    if "cafile" in options:
        options = dict(options, cafile=str(tls_server.folder / options["cafile"]))
    with pytest.raises(velmora.OperationalError, match=text):
        tls_server.connect(timeout=10, **options)
