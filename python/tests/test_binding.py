import _thread
import datetime
import gc
import threading

import pytest

import vexcomm
from conftest import cli

GET_NEW, WPK, TGA = 2, 14, 16
CANCELLED = (2, "Benutzer-Abbruch")

FILES = {"installations": [{"blz": "11122233", "kundennr": "4711", "files": [
    {"nr": 1, "name": "grüße.txt", "typ": "TXT", "von": "01.01.2026", "bis": "31.12.2026",
     "dauer": 10, "wichtigkeit": 1, "titel": "Hallo", "url": "www.example.com/",
     "content": "Grüße: 5 €"},
    {"nr": 2, "typ": "DELETE", "ref": 1}]}]}
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
        ("NochAufServer", 0)]
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


def test_deposit_tree_by_iteration_and_default_member(server):
    vc = server(DEPOSITS)
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


def test_ctrl_c_cancels_the_run_and_is_raised_after_it(server):
    vc = server(SILENT)
    timer = threading.Timer(0.05, _thread.interrupt_main)  # as Ctrl-C while Send waits
    vc.SetCallback(Host(on_log=lambda: timer.is_alive() or timer.finished.is_set() or timer.start()))
    vc.Modus = GET_NEW
    with pytest.raises(KeyboardInterrupt):
        vc.Send()
    assert (vc.Fehler.Code, vc.Fehler.Text) == CANCELLED


@pytest.mark.parametrize("action, number", [
    (lambda: vexcomm.CreateObject("VexComm5.VexComm").Nichts, 438),
    (lambda: setattr(vexcomm.CreateObject("VexComm5.VexComm"), "Nichts", 1), 438),
    (lambda: vexcomm.CreateObject("VexComm5.Nichts"), 429),
    (lambda: vexcomm.CreateObject("VexComm5.colAktien").Add("1"), 450),
    (lambda: setattr(vexcomm.CreateObject("VexComm5.clsAktie"), "ID", "zwölf"), 13),
    (lambda: setattr(vexcomm.CreateObject("VexComm5.clsAktie"), "ID", 2**40), 6),
    (lambda: vexcomm.CreateObject("VexComm5.VexComm").SetSocket(object()), 13),
])
def test_failures_raise_error_with_number(action, number):
    with pytest.raises(vexcomm.Error) as caught:
        action()
    assert caught.value.number == number and caught.value.description


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
    assert heard == {"first": [], "second": [1]}
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
