"""The file methods: the upload folder (upload, download, listing) and the file store
(post_data, read_data, delete_data), their contents byte for byte and their refusals."""

import os

import pytest

import velmora


def test_upload_download_and_listing(server, conn):
    incompressible = os.urandom(300_000)
    text = "ü line\n".encode() * 5000
    assert conn.upload("random.bin", incompressible) is True
    assert conn.upload("text.txt", text) is True
    assert conn.upload("empty.dat", b"") is True
    assert conn.download("random.bin") == incompressible
    assert conn.download("text.txt") == text
    assert conn.download("empty.dat") == b""
    assert (server.folder / "Upload" / "random.bin").read_bytes() == incompressible
    # An upload replaces the earlier file.
    assert conn.upload("text.txt", b"second") is True
    assert conn.download("text.txt") == b"second"
    listed = {entry.name: entry for entry in conn.listing()}
    assert {n: listed[n].size for n in ("random.bin", "text.txt", "empty.dat")} == {
        "random.bin": 300_000, "text.txt": 6, "empty.dat": 0}
    assert all(isinstance(entry.time, str) and entry.time for entry in listed.values())


@pytest.mark.parametrize("name,cls,text", [
    ("a|b", velmora.ProgrammingError, 'Refused path "a|b"'),
    ("../escape.txt", velmora.ProgrammingError, "Refused path"),
    ("../CONFIG.CFG", velmora.ProgrammingError, "Refused path|Access denied"),
])
def test_refused_upload_names(conn, name, cls, text):
    with pytest.raises(cls, match=text) as caught:
        conn.upload(name, b"x")
    assert caught.value.remote
    assert conn.server_time() is not None


def test_missing_files_read_as_none(conn):
    assert conn.download("no-such-file.bin") is None
    assert conn.read_data("store", "no-such-file.bin") is None
    assert conn.read_data("no-such-folder", "x.bin") is None


def test_file_store_round_trip(server, conn):
    content = b"\0" * 200_000 + b"end"
    conn.post_data("store/sub", "data.bin", content)
    assert (server.folder / "store" / "sub" / "data.bin").read_bytes() == content
    # Compressible content makes the server deflate its reply frame.
    headers = []
    receive = conn._channel._recv_exact

    def recording(n):
        data = receive(n)
        if n == 5:
            headers.append(data)
        return data

    conn._channel._recv_exact = recording
    assert conn.read_data("store/sub", "data.bin") == content
    assert [h[4] for h in headers] == [1], "the reply was not deflated"
    conn.post_data("store/sub", "data.bin", b"")
    assert conn.read_data("store/sub", "data.bin") == b""
    conn.delete_data("store/sub", "data.bin")
    assert not (server.folder / "store" / "sub" / "data.bin").exists()


@pytest.mark.parametrize("call", [
    lambda c: c.read_data("", "CONFIG.CFG"),
    lambda c: c.post_data("", "DataBase.CFG", b"DriverID=SQLite"),
    lambda c: c.post_data("store", "x|y", b"1"),
    lambda c: c.delete_data("", "CONFIG.CFG"),
], ids=["read own file", "write own file", "bad name", "delete own file"])
def test_file_store_refusals_raise_the_servers_message(server, conn, call):
    before = (server.folder / "CONFIG.CFG").read_bytes()
    with pytest.raises(velmora.DatabaseError) as caught:
        call(conn)
    assert caught.value.message and not caught.value.remote
    assert (server.folder / "CONFIG.CFG").read_bytes() == before
    assert not (server.folder / "store" / "x|y").exists()
