"""Late-bound access to the VexComm5 home-banking component.

Objects come from CreateObject by ProgID; their members are reached by name in any case, as a
late-binding host reaches them, and each class lists its members in dir() with the reference's
texts (help(vexcomm.VexComm)). A VexComm made here runs on a module of its own whose wait checks
for Ctrl-C (an interrupt cancels the run and is raised again when Send returns) and runs the
function given to SetHostEvents, so that a GUI stays alive during Send.
"""

from __future__ import annotations

import math
from typing import Optional, Sequence

from . import _vexcomm
from ._vexcomm import (  # noqa: F401  (the package's names)
    CallbackKind, CreateObject, Error, MemberNotFound, Method, Object, OutcomeKind, Overflow,
    SetHostEvents, SubscriptOutOfRange, TypeMismatch, WrongArgumentCount, __version__,
    vexCommFehler, vexCommModus)
from ._vexcomm import (  # noqa: F401  (one class per class of the component)
    RunOutcome, VexComm, VexProxySocket5, clsAktie, clsFehler, clsFGZins, clsKurs, clsTagesgeld,
    clsTGAnbieter, clsTGProdukt, clsTGZins, colAktien, colFGZinsen, colTGAnbieter, colTGProdukte,
    colTGZinsen)

__all__ = [
    "CallbackKind", "CreateObject", "CreateSocket", "Error", "MemberNotFound", "Method", "Object",
    "OutcomeKind", "Overflow", "RunOutcome", "SetHostEvents", "SubscriptOutOfRange",
    "TypeMismatch", "VexComm", "VexProxySocket5", "WrongArgumentCount", "__version__",
    "clsAktie", "clsFGZins", "clsFehler", "clsKurs", "clsTGAnbieter", "clsTGProdukt", "clsTGZins",
    "clsTagesgeld", "colAktien", "colFGZinsen", "colTGAnbieter", "colTGProdukte", "colTGZinsen",
    "vexCommFehler", "vexCommModus",
]


def _split_host_parts(text: str) -> list[str]:
    # At ":" outside brackets; the brackets of an IPv6 address go.
    parts, current, in_brackets = [], "", False
    for c in text:
        if c == "[" and not in_brackets:
            in_brackets = True
        elif c == "]" and in_brackets:
            in_brackets = False
        elif c == ":" and not in_brackets:
            parts.append(current)
            current = ""
        else:
            current += c
    if in_brackets:
        raise ValueError(f"connect_to: unclosed '[' in {text!r}")
    return parts + [current]


def _port(text: str, what: str, allow_empty: bool) -> int:
    if text == "" and allow_empty:
        return 0
    if not text.isascii() or not text.isdigit() or not 1 <= int(text) <= 65535:
        raise ValueError(f"{what}: {text!r} is no port (1..65535)")
    return int(text)


def _seconds(value: Optional[float], what: str) -> Optional[float]:
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{what} wants seconds as a number, not {type(value).__name__}")
    if not math.isfinite(value) or value < 0 or value > 86400 * 365:
        raise ValueError(f"{what} wants seconds from 0 (no limit) up to a year, not {value!r}")
    return float(value)


def CreateSocket(ca_file: str = "", connect_to: str = "", proxy_host: str = "",
                 proxy_port: int = 0, proxy_user: str = "", proxy_password: str = "",
                 idle_timeout: Optional[float] = None, *,
                 connect_timeout: Optional[float] = None, reply_timeout: Optional[float] = None,
                 speed_limit: Optional[int] = None, speed_time: Optional[float] = None,
                 pinned_public_keys: Sequence[str] = ()) -> VexProxySocket5:
    # The docstring is made below from the reference's texts of the options.
    host, port, address, address_port = "", 0, "", 0
    if connect_to:
        parts = _split_host_parts(connect_to)
        if len(parts) != 4 or not parts[0]:
            raise ValueError("connect_to wants HOST:PORT:ADDRESS:PORT (an IPv6 address in "
                             f"brackets), not {connect_to!r}")
        host, address = parts[0], parts[2]
        port = _port(parts[1], "connect_to", True)
        address_port = _port(parts[3], "connect_to", True)
    if isinstance(proxy_port, bool) or not isinstance(proxy_port, int):
        raise TypeError(f"proxy_port wants an int, not {type(proxy_port).__name__}")
    if proxy_host and not 1 <= proxy_port <= 65535 or not 0 <= proxy_port <= 65535:
        raise ValueError(f"proxy_port: {proxy_port} is no port (1..65535)")
    if speed_limit is not None and (isinstance(speed_limit, bool)
                                    or not isinstance(speed_limit, int) or speed_limit < 0):
        raise ValueError(f"speed_limit wants bytes a second from 0 (no limit), not {speed_limit!r}")
    if isinstance(pinned_public_keys, str):
        raise TypeError("pinned_public_keys wants a list of pins, not one string")
    socket: VexProxySocket5 = _vexcomm._create_socket(
        ca_file=ca_file, proxy_host=proxy_host, proxy_port=proxy_port, proxy_user=proxy_user,
        proxy_password=proxy_password, connect_to_host=host, connect_to_port=port,
        connect_to_address=address, connect_to_address_port=address_port,
        connect_timeout=_seconds(connect_timeout, "connect_timeout"),
        idle_timeout=_seconds(idle_timeout, "idle_timeout"),
        reply_timeout=_seconds(reply_timeout, "reply_timeout"), speed_limit=speed_limit,
        speed_time=_seconds(speed_time, "speed_time"),
        pinned_public_keys=list(pinned_public_keys))
    return socket


def _option(name: str, member: str, unit: str = "") -> str:
    text = _vexcomm._reference_doc("SocketOptions", member)
    return f"    {name}: {text}{unit}"


CreateSocket.__doc__ = "\n".join([
    "A TLS socket for VexComm.SetSocket, on the package's module; nothing connects yet. A CA"
    " file that cannot be read does not fail here: every certificate is then refused.",
    "",
    "Args:",
    _option("ca_file", "ca_file"),
    "    connect_to: HOST:PORT:ADDRESS:PORT, as curl's --connect-to: HOST:PORT is reached at"
    " ADDRESS:PORT, the certificate still checked for HOST. An empty PORT means any, an empty"
    " ADDRESS or port the same; an IPv6 address stands in brackets.",
    _option("proxy_host", "proxy_host"),
    _option("proxy_port", "proxy_port", " 1..65535 with a proxy_host."),
    _option("proxy_user", "proxy_user"),
    _option("proxy_password", "proxy_password"),
    _option("idle_timeout", "idle_timeout", " In seconds; None: the default (120)."),
    _option("connect_timeout", "connect_timeout", " In seconds; None: the default (30)."),
    _option("reply_timeout", "reply_timeout", " In seconds; None: the default (600)."),
    _option("speed_limit", "speed_limit", " None: the default (100)."),
    _option("speed_time", "speed_time", " In seconds; None: the default (60)."),
    _option("pinned_public_keys", "pinned_public_keys"),
    "",
    "Raises:",
    "    ValueError: a connect_to, port, time or speed that cannot be used.",
])
