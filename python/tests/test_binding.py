import _thread
import ast
import datetime
import gc
import re
import threading
from pathlib import Path

import pytest

import vexcomm
from conftest import cli

GET_NEW, WPK, TGA = 2, 14, 16
CANCELLED = (2, "Benutzer-Abbruch")

# Every octet value, and the text the socket makes of them: Windows-1252, the five octets it
# leaves undefined as the C1 controls of the same number.
OCTETS = bytes(range(256))
OCTETS_TEXT = "".join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode("cp1252")
                      for b in OCTETS)
FILES = {"installations": [{"blz": "11122233", "kundennr": "4711", "files": [
    {"nr": 1, "name": "grüße.txt", "typ": "TXT", "von": "01.01.2026", "bis": "31.12.2026",
     "dauer": 10, "wichtigkeit": 1, "titel": "Hallo", "url": "www.example.com/",
     "content": "Grüße: 5 €"},
    {"nr": 2, "typ": "DELETE", "ref": 1},
    {"nr": 3, "name": "octets.bin", "content": OCTETS_TEXT}]}]}
SILENT = {"rules": [{"code": "AKNEW", "silent": True}]}


class Host:
    """A plain Python object as the host's callback object."""

    def __init__(self, on_log=None):
        self.lines = []
        self.on_log = on_log

    def callback(self, kind, text):
        self.lines.append((kind, text))
        if self.on_log:
            self.on_log()


def test_fetch_raises_the_events_with_their_arguments(server):
    cli("user", "set", "--datei-nr", "0")
    vc = server(FILES)
    seen = []
    vc.on("NeueDatei", lambda *args: seen.append(("NeueDatei", args)))
    octets = []
    vc.on("neuedatei", lambda *args: octets.append(args[9]), as_bytes=True)
    vc.on("delete", lambda *args: seen.append(("Delete", args)))
    vc.on("NochAufServer", lambda n: seen.append(("NochAufServer", n)))
    host = Host()
    vc.SetCallback(host)
    vc.Modus = GET_NEW
    assert vc.Send() is False
    assert (vc.Fehler.Code, vc.fehler.text) == (0, "")
    # Texts, numbers and the array of the Delete event (lower bound 0, left empty) arrive as
    # Python values.
    assert seen == [
        ("NeueDatei", (1, "grüße.txt", "TXT", "01.01.2026", "31.12.2026", 10, 1, "Hallo",
                       "www.example.com/", "Grüße: 5 €")),
        ("Delete", ([None, "1"],)),
        ("NeueDatei", (3, "octets.bin", "", "", "", 0, 0, "", "", OCTETS_TEXT)),
        ("NochAufServer", 0)]
    # The content as the server sent it, octet for octet.
    assert octets == ["Grüße: 5 €".encode("cp1252"), OCTETS]
    assert all(isinstance(kind, int) and isinstance(text, str) for kind, text in host.lines)
    assert any(text.startswith("SSL-Connect") for kind, text in host.lines if kind == 0)


QUOTES = {"wertpapiere": {"datum": "05.12.2026", "aktien": [
    {"wkn": "766403", "isin": "DE0007664039", "name": "Volkswagen AG Vz.",
     "kurse": [["01.12.2026", "100,10"], ["02.12.2026", "101,20"], ["04.12.2026", "99,00"]]},
    {"wkn": "514000", "isin": "DE0005140008", "name": "Deutsche Bank AG",
     "kurse": [["01.12.2026", "9,50"]]}]}}


def test_quote_run_fills_the_stocks_a_kept_stock_outlives_its_owner(server):
    vc = server(QUOTES)
    aktien = vc.Aktien
    vw = aktien.Add("766403", "", "VW")
    vw.VonDatum = datetime.date(2026, 12, 1)  # dates go in as the component's text
    vw.BisDatum = "03.12.2026"
    aktien.add("", "DE0005140008", "DB")
    vc.Modus = WPK
    vc.Send()
    assert vc.Fehler.Code == 0
    got = [(s.WKN, s.ISIN, s.Name, s.VonDatum, [(k.Datum, k.Kurs) for k in
            (s.Kurs(i) for i in range(1, s.KursCount() + 1))]) for s in aktien]
    assert got == [
        ("766403", "DE0007664039", "Volkswagen AG Vz.", "01.12.2026",
         [("01.12.2026", "100,10"), ("02.12.2026", "101,20")]),
        ("514000", "DE0005140008", "Deutsche Bank AG", "", [("01.12.2026", "9,50")])]
    assert len(aktien) == 2 and aktien.Item(3) is None

    del vc, aktien
    gc.collect()
    assert (vw.Name, vw.KursCount(), vw.Kurs(2).Kurs) == ("Volkswagen AG Vz.", 2, "101,20")


DEPOSITS = {"tagesgeld": {"datum": "06.12.2026", "anbieter": [
    {"name": "Bank Ä", "blz": "11122233", "produkte": [
        {"name": "Tagesgeld Plus", "neukunde": True, "zinsen": [
            {"ab_betrag": "0", "zins_anfang": "2,5", "gueltig_zins_anfang": 3, "zins_danach": "1,0",
             "gueltig_zins_danach": 12},
            {"ab_betrag": "50000", "zins_anfang": "2,0", "gueltig_zins_anfang": 3,
             "zins_danach": "0,75", "gueltig_zins_danach": 12}]},
        {"name": "Tagesgeld Basis", "neukunde": False}]},
    {"name": "Sparkasse Süd"}]}}


def test_deposit_tree_by_iteration_and_index_over_ipv6(server):
    vc = server(DEPOSITS, address="[::1]")  # connect_to's address in brackets
    vc.Modus = TGA
    vc.Send()
    assert vc.Fehler.Code == 0
    tree = vc.Tagesgeld
    assert tree.Datum == "06.12.2026"
    got = [(a.Name, a.BLZ, [(p.Name, p.Neukunde, [(z.AbBetrag, z.zinsanfang) for z in p.Zinsen])
                            for p in a.Produkte]) for a in tree.Anbieter]
    assert got == [
        ("Bank Ä", "11122233", [("Tagesgeld Plus", True, [("0", "2,5"), ("50000", "2,0")]),
                                ("Tagesgeld Basis", False, [])]),
        ("Sparkasse Süd", "", [])]
    assert tree.Anbieter[1].Produkte[2].Name == "Tagesgeld Basis"
    assert tree.anbieter[2] == tree.Anbieter.Item(2)


def test_cancel_from_another_thread(server):
    vc = server(SILENT)
    connected = threading.Event()
    errors = []

    def canceller():
        connected.wait(30)
        try:
            vc.Modus = GET_NEW  # only CancelSend may come from another thread
        except vexcomm.Error as e:
            errors.append(e.number)
        vc.CancelSend()

    thread = threading.Thread(target=canceller)
    thread.start()
    vc.SetCallback(Host(on_log=connected.set))
    vc.Modus = GET_NEW
    vc.Send()  # holds no GIL while it waits, so the thread runs
    thread.join()
    assert errors == [5]
    assert (vc.Fehler.Code, vc.Fehler.Text) == CANCELLED


class HostEvents:
    """A GUI's event processing: counts its calls while the server holds its reply."""

    def __init__(self, vc, fail):
        self.vc, self.fail, self.calls = vc, fail, 0

    def __call__(self):
        self.calls += 1
        if self.calls == 5:
            if self.fail:
                raise RuntimeError("window closed")
            self.vc.CancelSend()  # the user's Cancel button


@pytest.mark.parametrize("fail, raised", [(False, None), (True, RuntimeError)])
def test_host_events_run_while_send_waits(server, fail, raised):
    vc = server(SILENT)
    events = HostEvents(vc, fail)
    vexcomm.SetHostEvents(events)
    vc.Modus = GET_NEW
    try:
        if raised:
            with pytest.raises(raised, match="window closed"):
                vc.Send()
        else:
            vc.Send()
    finally:
        vexcomm.SetHostEvents(None)
    assert events.calls >= 5
    assert (vc.Fehler.Code, vc.Fehler.Text) == CANCELLED and vc.Outcome.Kind is vexcomm.OutcomeKind.kCancelled


def test_ctrl_c_cancels_the_run_and_is_raised_after_it(server):
    vc = server(SILENT)
    timer = threading.Timer(0.05, _thread.interrupt_main)  # as Ctrl-C while Send waits
    vc.SetCallback(Host(on_log=lambda: timer.is_alive() or timer.finished.is_set() or timer.start()))
    vc.Modus = GET_NEW
    with pytest.raises(KeyboardInterrupt):
        vc.Send()
    assert (vc.Fehler.Code, vc.Fehler.Text) == CANCELLED


def vexcomm_object():
    return vexcomm.CreateObject("VexComm5.VexComm")


def aktien():
    return vexcomm.CreateObject("VexComm5.colAktien")


# A failure names the class and the member, is the Python error a caller expects, and keeps the
# component's number.
@pytest.mark.parametrize("action, python_error, number, message", [
    (lambda: vexcomm_object().Modsu, AttributeError, 438, "VexComm has no member 'Modsu'"),
    (lambda: setattr(vexcomm_object(), "Modsu", 2), AttributeError, 438,
     "VexComm has no member 'Modsu'"),
    (lambda: setattr(vexcomm_object(), "Fehler", 1), AttributeError, 438,
     "VexComm.Fehler is read-only"),
    (lambda: vexcomm_object().LogDatum, AttributeError, 438, "VexComm.LogDatum can only be set"),
    (lambda: vexcomm.CreateObject("VexComm5.Nichts"), vexcomm.Error, 429,
     "ActiveX component can't create object: VexComm5.Nichts"),
    (lambda: aktien().Add("1"), TypeError, 450, "colAktien.Add() takes 3 arguments, not 1"),
    (lambda: setattr(vexcomm.CreateObject("VexComm5.clsAktie"), "ID", "zwölf"), TypeError, 13,
     "clsAktie.ID: Type mismatch"),
    (lambda: setattr(vexcomm.CreateObject("VexComm5.clsAktie"), "ID", 2**40), OverflowError, 6,
     "clsAktie.ID: Overflow"),
    (lambda: vexcomm_object().SetSocket(object()), TypeError, 13,
     "VexComm.SetSocket: Type mismatch"),
    (lambda: aktien()[1], IndexError, 9, "colAktien index 1 is not in 1..0"),
    (lambda: aktien()["1"], TypeError, 13, "colAktien indices are integers from 1, not str"),
    (lambda: vexcomm.CreateObject("VexComm5.colTGAnbieter").Item(1), IndexError, 9,
     "colTGAnbieter.Item: Subscript out of range"),
    (lambda: len(vexcomm_object()), TypeError, None, "has no len()"),
    (lambda: vexcomm_object().on("Nichts", print), ValueError, None,
     "VexComm has no event 'Nichts'"),
    (lambda: vexcomm.CreateSocket(connect_to="h:70000:a:1"), ValueError, None,
     "connect_to: '70000' is no port"),
    (lambda: vexcomm.CreateSocket(connect_to="h:443:a:x"), ValueError, None,
     "connect_to: 'x' is no port"),
    (lambda: vexcomm.CreateSocket(connect_to="h:443"), ValueError, None,
     "connect_to wants HOST:PORT:ADDRESS:PORT"),
    (lambda: vexcomm.CreateSocket(connect_to="h:443:[::1:1"), ValueError, None, "unclosed '['"),
    (lambda: vexcomm.CreateSocket(proxy_host="proxy", proxy_port=0), ValueError, None,
     "proxy_port: 0 is no port"),
    (lambda: vexcomm.CreateSocket(idle_timeout=-1), ValueError, None, "idle_timeout wants"),
    (lambda: vexcomm.CreateSocket(speed_limit=-1), ValueError, None, "speed_limit wants"),
])
def test_failures_name_class_and_member(action, python_error, number, message):
    with pytest.raises(python_error) as caught:
        action()
    assert message in str(caught.value)
    if number is not None:
        assert isinstance(caught.value, vexcomm.Error) and caught.value.number == number
        assert caught.value.description


PROTOCOL = ("__len__", "__getitem__", "__iter__")  # a collection's


def stub_classes():
    """The classes of the package's stubs: their public names (a private base's too), enum
    values."""
    tree = ast.parse(Path(vexcomm.__file__).with_suffix(".pyi").read_text())
    classes = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            names = {}
            for base in node.bases:
                base = base.value if isinstance(base, ast.Subscript) else base
                if getattr(base, "id", "").startswith("_"):
                    names.update(classes[base.id])
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    names[item.name] = None
                elif isinstance(item, ast.AnnAssign):
                    names[item.target.id] = None
                elif isinstance(item, ast.Assign):
                    names[item.targets[0].id] = ast.literal_eval(item.value)
            classes[node.name] = {k: v for k, v in names.items()
                                  if not k.startswith("_") or k in PROTOCOL}
    return classes


# Every class lists its members in dir(), each with the reference's text; the typed stubs name
# the same members and the same operation codes the module has.
@pytest.mark.parametrize("make", [
    vexcomm_object, lambda: vexcomm_object().Fehler, lambda: vexcomm_object().Outcome,
    aktien, lambda: aktien().Add("1", "", ""), lambda: aktien().Add("1", "", "").KursAdd("", ""),
    lambda: vexcomm_object().Tagesgeld, lambda: vexcomm_object().Tagesgeld.Anbieter(),
    *(lambda name=name: vexcomm.CreateObject("VexComm5." + name) for name in (
        "clsTGAnbieter", "colTGProdukte", "clsTGProdukt", "colTGZinsen", "clsTGZins",
        "colFGZinsen", "clsFGZins")),
    lambda: vexcomm.CreateSocket(),
])
def test_classes_show_their_members_with_the_reference_texts(make):
    obj = make()
    cls = type(obj)
    members = {name for name in vars(cls)
               if not name.startswith("_") or name in PROTOCOL}
    assert members == set(stub_classes()[cls.__name__]) and members <= set(dir(obj))
    assert cls.__doc__ and cls.__name__ == obj.type_name
    for name in members - set(PROTOCOL):
        assert getattr(cls, name).__doc__, f"{cls.__name__}.{name} has no docstring"


def test_package_names_its_version_and_codes():
    assert vexcomm.__version__ == vexcomm._vexcomm.__version__
    assert re.fullmatch(r"\d+\.\d+\.\d+", vexcomm.__version__)
    stubs = stub_classes()
    for enum in (vexcomm.vexCommModus, vexcomm.vexCommFehler, vexcomm.CallbackKind,
                 vexcomm.OutcomeKind):
        assert {m.name: m.value for m in enum} == stubs[enum.__name__]
        assert "VexCommGetNew = 2: " in vexcomm.vexCommModus.__doc__
    assert "Args:" in vexcomm.CreateSocket.__doc__ and "connect_timeout:" in vexcomm.CreateSocket.__doc__
    assert vexcomm.VexComm.Send.__doc__.startswith("Send()\n")


def test_values_convert_both_ways():
    stock = vexcomm.CreateObject("vexcomm5.clsaktie")
    stock.id = "42"
    stock.WKN = 766403
    stock.Name = None
    assert (stock.ID, stock.wkn, stock.Name) == (42, "766403", "")
    assert not hasattr(stock, "Nichts")
    kurs = stock.KursAdd(datetime.date(2026, 1, 2), 1.5)
    assert (kurs.Datum, type(kurs.Kurs)) == ("02.01.2026", str)
    assert stock.Kurs(1) == kurs and stock.Kurs(9) is None


def test_edge_a_raising_file_handler_refuses_its_file(server):
    cli("user", "set", "--datei-nr", "0")
    vc = server(FILES)
    seen = []

    def full_disk(*args):
        seen.append(args[0])
        raise OSError(28, "No space left on device")

    vc.on("NeueDatei", full_disk)
    vc.Modus = GET_NEW
    vc.Send()
    # Refused: the run ends after the file and the server keeps it for the next run.
    assert seen == [1]
    assert (vc.Fehler.Code, vc.Fehler.Text) == (
        2, "Datei nicht angenommen: OSError: [Errno 28] No space left on device")
    assert (vc.Outcome.Name, vc.Outcome.Detail) == (
        "local_store_file_refused", "OSError: [Errno 28] No space left on device")
    vc2 = server(FILES)
    vc2.on("NeueDatei", lambda *args: vc2.RefuseFile("später"))
    vc2.Modus = GET_NEW
    vc2.Send()
    assert vc2.Fehler.Text == "Datei nicht angenommen: später"
    assert vc2.Outcome.Kind == 14 and vc2.Outcome.MessageBoxes == []


def test_edge_each_object_hears_its_own_run(server):
    cli("user", "set", "--datei-nr", "0")
    first = server(FILES)
    second = server(FILES)
    heard = {"first": [], "second": []}
    first.on("NeueDatei", lambda *args: heard["first"].append(args[0]))
    second.on("NeueDatei", lambda *args: heard["second"].append(args[0]))
    second.Modus = GET_NEW
    second.Send()
    assert heard == {"first": [], "second": [1, 3]}
    assert second.Outcome.Name == "ok"


def test_edge_an_interrupt_in_a_handler_reaches_the_caller_once(server):
    vc = server(FILES)
    calls = []

    def interrupted(count):
        calls.append(count)
        raise KeyboardInterrupt

    vc.on("NochAufServer", interrupted)
    vc.Modus = GET_NEW
    with pytest.raises(KeyboardInterrupt):
        vc.Send()
    assert calls == [0]
    assert vc.Outcome.Name == "cancelled"
