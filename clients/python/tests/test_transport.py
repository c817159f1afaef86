"""The driver's side of the wire against a scripted peer: frames it must refuse, a deflated
answer, and a connection lost mid-call, which closes the connection while a refused argument
does not."""

import socket
import struct
import threading
import zlib

import pytest

import velmora
from velmora import wire


def frame(payload, flags=0):
    return struct.pack("<IB", len(payload), flags) + payload


def deflated(payload, claimed=None):
    body = struct.pack("<I", len(payload) if claimed is None else claimed) + zlib.compress(payload)
    return frame(body, 1)


ACCEPTED = frame(bytes([2, 1]) + wire.pack_string(""))
# A reply: the Integer 7, no out-parameters.
REPLY_7 = bytes([4]) + wire.encode_variant(7) + struct.pack("<I", 0)


class ScriptedPeer:
    """Accepts one connection, answers the hello, then sends `answer` to the first call (None:
    closes the connection instead)."""

    def __init__(self, answer):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.answer = answer
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def read_frame(self, peer):
        header = peer.recv(5, socket.MSG_WAITALL)
        if len(header) < 5:
            return None  # the client has gone
        length = struct.unpack("<I", header[:4])[0]
        return peer.recv(length, socket.MSG_WAITALL) if length else b""

    def serve(self):
        peer, _ = self.listener.accept()
        with peer:
            self.read_frame(peer)
            peer.sendall(ACCEPTED)
            self.read_frame(peer)
            if self.answer is not None:
                peer.sendall(self.answer)
                try:
                    self.read_frame(peer)  # until the client goes
                except ConnectionResetError:
                    pass  # it went with our answer unread

    def close(self):
        self.listener.close()
        self.thread.join(5)


@pytest.mark.parametrize("answer,cls,text", [
    (None, velmora.OperationalError, "closed the connection"),
    (frame(REPLY_7, flags=2), velmora.InterfaceError, "unknown flag bits"),
    (deflated(REPLY_7, claimed=len(REPLY_7) + 1), velmora.InterfaceError, "stated size"),
    (frame(b"\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"), velmora.InterfaceError,
     "after its last field"),
    (frame(bytes([4]) + b"\x99\x99"), velmora.InterfaceError, "Unknown variant type"),
], ids=["closed", "flag bits", "inflated size", "trailing bytes", "variant type"])
def test_broken_answers_raise_and_close_the_connection(answer, cls, text):
    peer = ScriptedPeer(answer)
    try:
        conn = velmora.connect("127.0.0.1", peer.port, "u", "p", timeout=10)
        with pytest.raises(cls, match=text):
            conn._call("GetServerDateTime")
        assert conn.closed
    finally:
        peer.close()


def test_a_deflated_answer_is_read_and_a_refused_argument_keeps_the_connection():
    peer = ScriptedPeer(deflated(REPLY_7))
    try:
        conn = velmora.connect("127.0.0.1", peer.port, "u", "p", timeout=10)
        with pytest.raises(velmora.InterfaceError, match="No variant encoding"):
            conn._call("ExecSQL", object())
        assert not conn.closed
        assert conn._call("GetServerDateTime") == (7, [])
        conn.close()
    finally:
        peer.close()
