#include "object_views.h"

#include <ostream>

#include "messages.h"
#include "quote_history.h"
#include "text_table.h"

namespace vexcomm::cli {

Json IsoJson(std::string_view datum) {
  const auto iso = IsoDate(datum);
  return iso ? Json(*iso) : Json(nullptr);
}

Json NumberJson(std::string_view text) {
  const auto value = ParsePrice(text);
  return value ? Json(*value) : Json(nullptr);
}

namespace {

Json DepositTreeWithValues(const clsTagesgeld& root);

// The tree as the component holds it: texts only.
void DropMachineValues(Json& value) {
  if (value.is_array()) {
    for (auto& item : value) DropMachineValues(item);
    return;
  }
  if (!value.is_object()) return;
  for (auto it = value.begin(); it != value.end();) {
    const std::string& key = it.key();
    if (key.ends_with("Wert") || key.ends_with("ISO")) {
      it = value.erase(it);
    } else {
      DropMachineValues(*it);
      ++it;
    }
  }
}

}  // namespace

Json DepositTreeJson(const clsTagesgeld& root, bool machine_values) {
  Json tree = DepositTreeWithValues(root);
  if (!machine_values) DropMachineValues(tree);
  return tree;
}

namespace {

Json DepositTreeWithValues(const clsTagesgeld& root) {
  Json anbieter = Json::array();
  const auto& providers = *root.Anbieter();
  for (int32_t a = 1; a <= providers.Count(); ++a) {
    const auto provider = providers.Item(a);
    Json produkte = Json::array();
    for (int32_t p = 1; p <= provider->Produkte()->Count(); ++p) {
      const auto product = provider->Produkte()->Item(p);
      Json zinsen = Json::array();
      for (int32_t z = 1; z <= product->Zinsen()->Count(); ++z) {
        const auto tier = product->Zinsen()->Item(z);
        zinsen.push_back(Json{{"AbBetrag", tier->AbBetrag()},
                              {"AbBetragWert", NumberJson(tier->AbBetrag())},
                              {"ZinsAnfang", tier->ZinsAnfang()},
                              {"ZinsAnfangWert", NumberJson(tier->ZinsAnfang())},
                              {"GueltigZinsAnfang", tier->GueltigZinsAnfang()},
                              {"ZinsDanach", tier->ZinsDanach()},
                              {"ZinsDanachWert", NumberJson(tier->ZinsDanach())},
                              {"GueltigZinsDanach", tier->GueltigZinsDanach()}});
      }
      Json festgeld = Json::array();
      for (int32_t z = 1; z <= product->ZinsenFestgeld()->Count(); ++z) {
        const auto row = product->ZinsenFestgeld()->Item(z);
        Json entry;
        for (const auto& [name, value] :
             {std::pair<const char*, std::string>{"AbBetrag", row->AbBetrag()},
              {"Zins_01", row->Zins_01()},
              {"Zins_03", row->Zins_03()},
              {"Zins_06", row->Zins_06()},
              {"Zins_09", row->Zins_09()},
              {"Zins_12", row->Zins_12()},
              {"Zins_18", row->Zins_18()}}) {
          entry[name] = value;
          entry[std::string(name) + "Wert"] = NumberJson(value);
        }
        festgeld.push_back(std::move(entry));
      }
      produkte.push_back(Json{{"Name", product->Name()},
                              {"MindestAnlage", product->MindestAnlage()},
                              {"MindestAnlageWert", NumberJson(product->MindestAnlage())},
                              {"MaximalAnlage", product->MaximalAnlage()},
                              {"MaximalAnlageWert", NumberJson(product->MaximalAnlage())},
                              {"Gutschrift", product->Gutschrift()},
                              {"Neukunde", product->Neukunde()},
                              {"URLInfo", product->URLInfo()},
                              {"URLNeu", product->URLNeu()},
                              {"ZinsGueltigkeit", product->ZinsGueltigkeit()},
                              {"Zinsen", std::move(zinsen)},
                              {"ZinsenFestgeld", std::move(festgeld)}});
    }
    anbieter.push_back(Json{
        {"Name", provider->Name()}, {"BLZ", provider->BLZ()}, {"Produkte", std::move(produkte)}});
  }
  return Json{
      {"Datum", root.Datum}, {"DatumISO", IsoJson(root.Datum)}, {"Anbieter", std::move(anbieter)}};
}

}  // namespace

Json AktienJson(const colAktien& aktien) {
  Json list = Json::array();
  for (int32_t i = 1; i <= aktien.Count(); ++i) {
    const auto stock = aktien.Item(i);
    Json kurse = Json::array();
    for (int32_t k = 1; k <= stock->KursCount(); ++k) {
      const auto quote = stock->Kurs(k);
      kurse.push_back(Json{{"Datum", quote->Datum},
                           {"ISO", IsoJson(quote->Datum)},
                           {"Kurs", quote->Kurs},
                           {"Wert", NumberJson(quote->Kurs)}});
    }
    list.push_back(Json{{"WKN", stock->WKN},
                        {"ISIN", stock->ISIN},
                        {"Name", stock->Name},
                        {"VonDatum", stock->VonDatum},
                        {"VonDatumISO", IsoJson(stock->VonDatum)},
                        {"BisDatum", stock->BisDatum},
                        {"BisDatumISO", IsoJson(stock->BisDatum)},
                        {"ID", stock->ID},
                        {"Kurse", std::move(kurse)}});
  }
  return list;
}

void PrintDeposits(std::ostream& out, const clsTagesgeld& root, bool festgeld,
                   std::optional<std::size_t> width) {
  std::vector<std::string> headers = {Tr("provider"), "BLZ", Tr("product"), Tr("min. deposit"),
                                      Tr("max. deposit")};
  if (festgeld) {
    headers.push_back(Tr("from amount"));
    for (const char* h : {"1 M", "3 M", "6 M", "9 M", "12 M", "18 M"}) headers.emplace_back(h);
  } else {
    for (const char* h : {N_("credited"), N_("new customers"), N_("from amount"), N_("rate"),
                          N_("months"), N_("then"), N_("months"), N_("valid")}) {
      headers.push_back(Tr(h));
    }
  }
  TextTable table(headers);
  const auto& providers = *root.Anbieter();
  for (int32_t a = 1; a <= providers.Count(); ++a) {
    const auto provider = providers.Item(a);
    bool first_of_provider = true;
    auto head = [&](const clsTGProdukt& product, bool first_of_product) {
      std::vector<std::string> cells = {
          first_of_provider ? provider->Name() : "", first_of_provider ? provider->BLZ() : "",
          first_of_product ? product.Name() : "", first_of_product ? product.MindestAnlage() : "",
          first_of_product ? product.MaximalAnlage() : ""};
      first_of_provider = false;
      return cells;
    };
    if (provider->Produkte()->Count() == 0) table.AddRow({provider->Name(), provider->BLZ()});
    for (int32_t p = 1; p <= provider->Produkte()->Count(); ++p) {
      const auto product = provider->Produkte()->Item(p);
      if (festgeld) {
        const int32_t rows = product->ZinsenFestgeld()->Count();
        for (int32_t z = 1; z <= std::max(rows, 1); ++z) {
          auto cells = head(*product, z == 1);
          if (rows > 0) {
            const auto r = product->ZinsenFestgeld()->Item(z);
            cells.insert(cells.end(), {r->AbBetrag(), r->Zins_01(), r->Zins_03(), r->Zins_06(),
                                       r->Zins_09(), r->Zins_12(), r->Zins_18()});
          }
          table.AddRow(std::move(cells));
        }
      } else {
        const int32_t tiers = product->Zinsen()->Count();
        for (int32_t z = 1; z <= std::max(tiers, 1); ++z) {
          auto cells = head(*product, z == 1);
          cells.push_back(z == 1 ? product->Gutschrift() : "");
          cells.push_back(z == 1 ? (product->Neukunde() ? Tr("yes") : Tr("no")) : "");
          if (tiers > 0) {
            const auto t = product->Zinsen()->Item(z);
            cells.insert(cells.end(),
                         {t->AbBetrag(), t->ZinsAnfang(), std::to_string(t->GueltigZinsAnfang()),
                          t->ZinsDanach(), std::to_string(t->GueltigZinsDanach())});
          } else {
            cells.insert(cells.end(), 5, "");
          }
          cells.push_back(z == 1 ? product->ZinsGueltigkeit() : "");
          table.AddRow(std::move(cells));
        }
      }
    }
  }
  // Least important first: what a reader can look up at the provider, then the rarer terms.
  static const std::vector<std::size_t> kDropFestgeld = {1, 4, 3, 9, 6, 11, 2};
  static const std::vector<std::size_t> kDropTagesgeld = {1, 4, 12, 5, 6, 3, 11, 10, 2};
  const std::size_t fit = width.value_or(TableWidth());
  const auto dropped = table.Fit(fit, 2, festgeld ? kDropFestgeld : kDropTagesgeld);
  out << Fill(festgeld ? Tr("Fixed-term deposit offers of %1") : Tr("Overnight-money offers of %1"),
              {root.Datum})
      << "\n";
  if (table.empty()) {
    out << "  " << Tr("(no offers)") << "\n";
    return;
  }
  table.Print(out, "  ");
  if (const auto note = LeftOutNote(dropped, false, fit, 2); !note.empty())
    out << "  " << note << "\n";
}

void PrintAktien(std::ostream& out, const colAktien& aktien, bool with_quotes) {
  if (aktien.Count() == 0) {
    out << "  " << Tr("(no stocks)") << "\n";
    return;
  }
  TextTable table(
      {"WKN", "ISIN", "Name", Tr("from date"), Tr("to date"), Tr("quotes"), Tr("last price")});
  for (int32_t i = 1; i <= aktien.Count(); ++i) {
    const auto s = aktien.Item(i);
    const auto last = s->Kurs(s->KursCount());
    table.AddRow({s->WKN, s->ISIN, s->Name, s->VonDatum, s->BisDatum,
                  std::to_string(s->KursCount()), last ? last->Datum + "  " + last->Kurs : ""});
  }
  table.Print(out, "  ");
  if (!with_quotes) return;
  for (int32_t i = 1; i <= aktien.Count(); ++i) {
    const auto s = aktien.Item(i);
    if (s->KursCount() == 0) continue;
    out << "\n  " << s->WKN << "  " << s->Name << "\n";
    TextTable quotes({Tr("date"), Tr("price")});
    for (int32_t k = 1; k <= s->KursCount(); ++k) {
      quotes.AddRow({s->Kurs(k)->Datum, s->Kurs(k)->Kurs});
    }
    quotes.Print(out, "    ");
  }
}

}  // namespace vexcomm::cli
