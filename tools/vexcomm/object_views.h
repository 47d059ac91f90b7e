#pragma once

#include <iosfwd>
#include <optional>

#include <vexcomm/deposits.h>
#include <vexcomm/quotes.h>

#include "output.h"

namespace vexcomm::cli {

// Machine values beside the texts: a date as YYYY-MM-DD, a number ("2,5", "1.000") as a JSON
// number; null when the text is neither.
Json IsoJson(std::string_view datum);
Json NumberJson(std::string_view text);

// The deposit tree as {"Datum":…,"Anbieter":[{"Name":…,"BLZ":…,"Produkte":[…]}]}.
// Without `machine_values`, only the texts the component holds.
Json DepositTreeJson(const clsTagesgeld& root, bool machine_values = true);
// The stocks as [{"WKN":…,"ISIN":…,"Name":…,"VonDatum":…,"BisDatum":…,"ID":…,"Kurse":[…]}].
Json AktienJson(const colAktien& aktien);

// Tables for people: one row per rate tier (overnight) or rate row (fixed-term). A `width`
// above 0 drops the least important columns until the table fits; none given means the
// terminal's (TableWidth).
void PrintDeposits(std::ostream& out, const clsTagesgeld& root, bool festgeld,
                   std::optional<std::size_t> width = std::nullopt);
// One line per stock; with quotes, the quotes of each stock below it.
void PrintAktien(std::ostream& out, const colAktien& aktien, bool with_quotes);

}  // namespace vexcomm::cli
