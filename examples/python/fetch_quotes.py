"""Fetches the quotes of a few stocks, stores them in Kurse.dat and prints them.

    python3 fetch_quotes.py [--ca-file FILE] [--connect-to HOST:PORT:ADDRESS:PORT] [WKN ...]

The folders and the identity record come from the environment (VEXCOMM_INI_DIR,
VEXCOMM_DATA_DIR, VEXCOMM_REGISTRY_DIR) as for any host; Kurse.dat is written to the data
folder, from the template in the INI folder. Ctrl-C cancels the run.
"""

import argparse
import datetime
import importlib
import sys

import vexcomm


def main() -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("--ca-file", default="")
    parser.add_argument("--connect-to", default="")
    parser.add_argument("--days", type=int, default=30)
    parser.add_argument("wkn", nargs="*", default=["766403", "840400", "514000"])
    args = parser.parse_args()

    vc = vexcomm.CreateObject("VexComm5.VexComm")
    vc.SetSocket(vexcomm.CreateSocket(ca_file=args.ca_file, connect_to=args.connect_to))
    aktien = vc.Aktien
    since = datetime.date.today() - datetime.timedelta(days=args.days)
    for wkn in args.wkn:
        aktien.Add(wkn, "", "").VonDatum = since.strftime("%d.%m.%Y")
    aktien.WriteDB = True
    vc.Modus = vexcomm.vexCommModus.vexCommWPK  # the quotes of each stock for its dates
    vc.Send()
    outcome = vc.Outcome
    if outcome.Kind not in (vexcomm.OutcomeKind.kOk, vexcomm.OutcomeKind.kNothingNew):
        print(f"{outcome.Name}: {outcome.Detail} (Fehler {vc.Fehler.Code}: {vc.Fehler.Text})",
              file=sys.stderr)
        return 1

    rows = [(stock.WKN, stock.Name, kurs.Datum, kurs.Kurs)
            for stock in aktien
            for kurs in (stock.Kurs(i) for i in range(1, stock.KursCount() + 1)) if kurs]
    try:
        pandas = importlib.import_module("pandas")
    except ImportError:
        for row in rows:
            print("\t".join(row))
    else:
        print(pandas.DataFrame(rows, columns=["WKN", "Name", "Datum", "Kurs"]).to_string())
    return 0


if __name__ == "__main__":
    sys.exit(main())
