"""Runs the module against the reference server over TLS, with a throwaway certificate.

The folders and the identity record are set once per session, before the first object is made:
the module's VexComm instances share one component module for the whole process.
"""

import json
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

ROOT = Path(tempfile.mkdtemp(prefix="vexcomm-py-"))
for name in ("ini", "data", "registry"):
    (ROOT / name).mkdir()
(ROOT / "ini" / "MorvaZedi.ini").write_bytes(b"[Comm]\r\nIP=vexmsg.test\r\n")
os.environ.update(
    VEXCOMM_INI_DIR=f"{ROOT}/ini/",
    VEXCOMM_DATA_DIR=f"{ROOT}/data/",
    VEXCOMM_REGISTRY_DIR=f"{ROOT}/registry/",
)

import vexcomm  # noqa: E402  (after the folders are set)


def _tool(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.exit(f"{variable} must name the built program", returncode=2)
    return path


def cli(*args):
    subprocess.run([_tool("VEXCOMM_CLI"), "--registry-dir", f"{ROOT}/registry", *args],
                   check=True, stdout=subprocess.DEVNULL)


@pytest.fixture(scope="session")
def certificate():
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
         "-nodes", "-days", "1", "-subj", "/CN=vexmsg.test",
         "-addext", "subjectAltName=DNS:vexmsg.test",
         "-keyout", str(ROOT / "server.key"), "-out", str(ROOT / "server.pem")],
        check=True, stderr=subprocess.DEVNULL)
    cli("user", "set", "--blz", "11122233", "--kunden-nr", "4711")
    yield ROOT / "server.pem"
    shutil.rmtree(ROOT, ignore_errors=True)


@pytest.fixture
def server(certificate, tmp_path):
    """Starts a server on a scenario; returns a VexComm whose socket reaches it."""
    started = []

    def start(scenario, address="127.0.0.1"):
        """address: where the server listens, and the connect_to target ("[::1]" for IPv6)."""
        path = tmp_path / f"scenario{len(started)}.json"
        path.write_text(json.dumps(scenario), encoding="utf-8")
        process = subprocess.Popen(
            [_tool("VEXMSG_SERVER"), "--cert", str(certificate), "--key",
             str(ROOT / "server.key"), "--scenario", str(path), "--listen", f"{address}:0",
             "--print-port", "--quiet"],
            stdout=subprocess.PIPE, text=True)
        started.append(process)
        port = int(process.stdout.readline())
        vc = vexcomm.CreateObject("VexComm5.VexComm")
        vc.SetSocket(vexcomm.CreateSocket(ca_file=str(certificate),
                                          connect_to=f"vexmsg.test:443:{address}:{port}",
                                          idle_timeout=10))
        return vc

    yield start
    for process in started:
        process.kill()
        process.wait()
