#include "deposits/deposit_requests.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include <vexcomm/deposits.h>
#include <vexcomm/error.h>

#include "services/run_state_fixture.h"

namespace vexcomm::deposits {
namespace {

using testing::RecordingRunState;

constexpr ConditionKind TG = ConditionKind::Tagesgeld;
constexpr ConditionKind FG = ConditionKind::Festgeld;

// Every stored value of a tree in one line, so that a field in the wrong property shows:
// provider "Name/BLZ{product;product}", product "fields Z<tiers> F<rows>", items split by ";".
std::string Render(const colTGAnbieter& providers) {
  std::string out;
  for (int32_t a = 1; a <= providers.Count(); ++a) {
    auto p = providers.Item(a);
    if (a > 1) out += " # ";
    out += p->Name() + "/" + p->BLZ() + "{";
    for (int32_t b = 1; b <= p->Produkte()->Count(); ++b) {
      auto d = p->Produkte()->Item(b);
      if (b > 1) out += ";";
      out += d->Name() + "," + d->MindestAnlage() + "," + d->MaximalAnlage() + "," +
             d->Gutschrift() + "," + (d->Neukunde() ? "neu" : "alt") + "," + d->URLInfo() + "," +
             d->URLNeu() + "," + d->ZinsGueltigkeit() + " Z<";
      for (int32_t c = 1; c <= d->Zinsen()->Count(); ++c) {
        auto z = d->Zinsen()->Item(c);
        if (c > 1) out += ";";
        out += z->AbBetrag() + "," + z->ZinsAnfang() + "," +
               std::to_string(z->GueltigZinsAnfang()) + "," + z->ZinsDanach() + "," +
               std::to_string(z->GueltigZinsDanach());
      }
      out += "> F<";
      for (int32_t c = 1; c <= d->ZinsenFestgeld()->Count(); ++c) {
        auto z = d->ZinsenFestgeld()->Item(c);
        if (c > 1) out += ";";
        out += z->AbBetrag() + "," + z->Zins_01() + "," + z->Zins_03() + "," + z->Zins_06() + "," +
               z->Zins_09() + "," + z->Zins_12() + "," + z->Zins_18();
      }
      out += ">";
    }
    out += "}";
  }
  return out;
}

const platform::NumericSeparators kPoint{".", ""};
const platform::NumericSeparators kGerman{",", "."};

struct GrammarCase {
  const char* name;
  ConditionKind kind;
  std::string list;
  std::string tree;   // what stands in the tree afterwards
  int32_t error = 0;  // the error the parse ends with, 0 for none
  const platform::NumericSeparators* separators = &kPoint;
};

void PrintTo(const GrammarCase& c, std::ostream* os) {
  *os << c.name;
}

const std::string kTgHead = "P|100|900|monatlich|1|info|neu|3 Monate";
const std::string kTgHeadTree = "P,100,900,monatlich,neu,info,neu,3 Monate";
const std::string kFgHead = "F|5000|1e6|jaehrlich|0|i|n";
const std::string kFgHeadTree = "F,5000,1e6,jaehrlich,alt,i,n,";

const std::vector<GrammarCase>& GrammarCases() {
  static const std::vector<GrammarCase> cases = {
      {"EmptyList", TG, "", ""},
      {"ExampleList", TG,
       "Bank A|11122233*Tagesgeld Plus|1000|50000|monatlich|1|info|neu|3 Monate~0|2,5|3|1,0|12",
       "Bank A/11122233{Tagesgeld Plus,1000,50000,monatlich,neu,info,neu,3 Monate "
       "Z<0,2,5,3,1,0,12> F<>}"},
      {"ProvidersWithoutBlzOrProducts", TG, "A#B", "A/{} # B/{}"},
      {"EmptyProviderEntriesSkipped", FG, "A##B#", "A/{} # B/{}"},
      {"OnlySeparators", TG, "###", ""},
      {"LeadingEmptyEntry", TG, "#A", "A/{}"},
      {"HeadWithMoreFields", TG, "Bank|123|x|y", "Bank/123{}"},
      {"HeadWithEmptyBlz", TG, "Bank|", "Bank/{}"},
      {"EntryStartingWithProduct", TG, "*" + kTgHead, "", errnum::kSubscriptOutOfRange},
      {"TgHeadOneFieldShort", TG, "A*P|1|2|G|1|i|n", "", errnum::kSubscriptOutOfRange},
      {"FgHeadOfSevenFields", FG, "A*P|1|2|G|1|i|n", "A/{P,1,2,G,neu,i,n, Z<> F<>}"},
      {"FgHeadOneFieldShort", FG, "A*P|1|2|G|1|i", "", errnum::kSubscriptOutOfRange},
      {"FgHeadExtraFieldIgnored", FG, "A*P|1|2|G|0|i|n|3 Monate", "A/{P,1,2,G,alt,i,n, Z<> F<>}"},
      {"EmptyProductHead", TG, "A*~0|1|2|3|4", "", errnum::kSubscriptOutOfRange},
      {"TrailingStarAfterLastProduct", TG, "Ok#A*" + kTgHead + "*", "Ok/{}",
       errnum::kSubscriptOutOfRange},
      {"TrailingTildeAfterLastRate", TG, "Ok#A*" + kTgHead + "~0|1|2|3|4~", "Ok/{}",
       errnum::kSubscriptOutOfRange},
      {"EmptyRateEntryBetween", FG, "A*" + kFgHead + "~~1|2|3|4|5|6|7", "",
       errnum::kSubscriptOutOfRange},
      {"TgRateOneFieldShort", TG, "A*" + kTgHead + "~0|1|2|3", "", errnum::kSubscriptOutOfRange},
      {"FgRateOneFieldShort", FG, "A*" + kFgHead + "~1|2|3|4|5|6", "",
       errnum::kSubscriptOutOfRange},
      {"FgRatesInOrderExtraIgnored", FG,
       "A|1*" + kFgHead + "~0|1,1|1,3|1,6|1,9|2,2|2,8|x~5000|a|b|c|d|e|f",
       "A/1{" + kFgHeadTree + " Z<> F<0,1,1,1,3,1,6,1,9,2,2,2,8;5000,a,b,c,d,e,f>}"},
      {"ProductsAndTiersInOrder", TG, "A*" + kTgHead + "~0|1|2|3|4~9|8|7|6|5*Q|||||||",
       "A/{" + kTgHeadTree + " Z<0,1,2,3,4;9,8,7,6,5> F<>;Q,,,,alt,,, Z<> F<>}"},
      {"FailureDropsWholeProviderBeingBuilt", TG,
       "A*" + kTgHead + "#B*" + kTgHead + "~0|1|2|3|4*Q|1|2", "A/{" + kTgHeadTree + " Z<> F<>}",
       errnum::kSubscriptOutOfRange},
      {"EmptyIntegerField", TG, "A*" + kTgHead + "~0|1||3|4", "", errnum::kTypeMismatch},
      {"TextInIntegerField", TG, "A*" + kTgHead + "~0|1|2|3|zwölf", "", errnum::kTypeMismatch},
      {"IntegerOutOfRange", TG, "A*" + kTgHead + "~0|1|3000000000|3|4", "", errnum::kOverflow},
      {"IntegersRoundHalvesToEven", TG, "A*" + kTgHead + "~0|1| 2.5 |3|3.5",
       "A/{" + kTgHeadTree + " Z<0,1,2,3,4> F<>}"},
      {"IntegersWithLocaleSeparators", TG, "A*" + kTgHead + "~0|1|1.000|3|2,5",
       "A/{" + kTgHeadTree + " Z<0,1,1000,3,2> F<>}", 0, &kGerman},
      {"CommaIsNotDecimalInPointLocale", TG, "A*" + kTgHead + "~0|1|2,5|3|4", "",
       errnum::kTypeMismatch},
  };
  return cases;
}

class ConditionGrammar : public ::testing::TestWithParam<GrammarCase> {};

TEST_P(ConditionGrammar, BuildsTreeOrStopsAtTheFailure) {
  const GrammarCase& c = GetParam();
  auto providers = colTGAnbieter::Create();
  int32_t error = 0;
  try {
    ParseConditionList(c.list, c.kind, *providers, *c.separators);
  } catch (const Error& e) {
    error = e.number();
    EXPECT_EQ(e.description(), StandardErrorText(e.number()));
  }
  EXPECT_EQ(error, c.error);
  EXPECT_EQ(Render(*providers), c.tree);
}

INSTANTIATE_TEST_SUITE_P(Lists, ConditionGrammar, ::testing::ValuesIn(GrammarCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConditionGrammar, NeukundeIsTrueExactlyForTheLeadingNumberOne) {
  const std::pair<const char*, bool> cases[] = {
      {"1", true}, {"1.0", true}, {"01", true}, {" 1", true},   {"1x", true},  {"0", false},
      {"", false}, {"-1", false}, {"2", false}, {"1.5", false}, {"ja", false}, {"0.999", false}};
  for (const auto& [field, neukunde] : cases) {
    auto providers = colTGAnbieter::Create();
    // The German locale must not matter here: "1.5" stays one and a half.
    ParseConditionList(std::string("A*P|1|2|G|") + field + "|i|n", FG, *providers, kGerman);
    ASSERT_EQ(providers->Count(), 1);
    EXPECT_EQ(providers->Item(1)->Produkte()->Item(1)->Neukunde(), neukunde) << "'" << field << "'";
  }
}

TEST(ConditionGrammar, ParsesAppendingToWhatTheListHolds) {
  auto providers = colTGAnbieter::Create();
  auto kept = clsTGAnbieter::Create();
  providers->Add(kept);
  ParseConditionList("B", TG, *providers, kPoint);
  ASSERT_EQ(providers->Count(), 2);
  EXPECT_EQ(providers->Item(1), kept);
}

// The nodes of a parsed tree read their texts from the list's text, which the tree keeps: a node
// the host holds keeps it after the tree is gone, and the tree's memory goes with its last node.
TEST(ConditionGrammar, KeptNodesOutliveTheirTreeWhichGoesWithTheLastOfThem) {
  auto providers = colTGAnbieter::Create();
  ParseConditionList("A|1*" + kTgHead + "~0|1|2|3|4", TG, *providers, kPoint);
  auto product = providers->Item(1)->Produkte()->Item(1);
  auto tier = product->Zinsen()->Item(1);
  EXPECT_EQ(product, providers->Item(1)->Produkte()->Item(1)) << "one object per node";
  const std::weak_ptr<clsTGProdukt> watch = product;
  product->SetName("eigener");
  providers->Clear();
  EXPECT_EQ(product->Name() + product->URLNeu() + product->ZinsGueltigkeit(), "eigenerneu3 Monate");
  EXPECT_EQ(product->Zinsen()->Count(), 0);
  // Listed again in its own tree's memory, the tier holds that memory no more than it did.
  product->Zinsen()->Add(tier);
  tier.reset();
  EXPECT_EQ(product->Zinsen()->Item(1)->ZinsDanach(), "3");
  product.reset();
  EXPECT_TRUE(watch.expired());
}

// The reply handlers and the request builders, on a run state as the component holds it. How
// a reply replaces a tree, and a failing list, are DepositsTlsTest's.

TEST(VerarbeiteAITGA, ReplyWithoutUsableListLeavesTheTreeEmptyWithItsDate) {
  struct Case {
    const char* frame;
    const char* datum;
    std::size_t boxes = 0;  // a list that fails is shown to the host
  } const cases[] = {
      {"VEXMSG:2:AITGA:06.12.2026:MSGEND", "06.12.2026"},  // element 7 missing
      {"VEXMSG:2:AITGA:07.12.2026:x:y::MSGEND", "07.12.2026"},
      {"VEXMSG:2:AITGA", ""},  // not even element 4
      {"VEXMSG:2:AITGA:08.12.2026:::*P:MSGEND", "08.12.2026", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frame);
    RecordingRunState run;
    run.state.tagesgeld->Anbieter()->Add(clsTGAnbieter::Create());
    run.state.tagesgeld->Datum = "alt";
    run.Receive(c.frame);
    VerarbeiteAITGA(run.state);
    ASSERT_EQ(run.boxes.size(), c.boxes);
    if (c.boxes) {
      EXPECT_EQ(run.boxes[0], std::make_pair(std::string("VerarbeiteAITGA"),
                                             std::string("Subscript out of range")));
    }
    EXPECT_EQ(run.state.tagesgeld->Anbieter()->Count(), 0);
    EXPECT_EQ(run.state.tagesgeld->Datum, c.datum);
  }
}

TEST(SendeAKTGA, FramesLogsThenSends) {
  struct Case {
    void (*builder)(services::RunState&);
    const char* frame;
    const char* log;
  } const cases[] = {
      {SendeAKTGA, "VEXMSG:2:AKTGA:MSGEND", "Tagesgeld-Konditionen abrufen "},
      {SendeAKFGA, "VEXMSG:2:AKFGA:MSGEND", "Festgeld-Konditionen abrufen "},
  };
  for (const auto& c : cases) {
    RecordingRunState run;
    run.state.tagesgeld->Anbieter()->Add(clsTGAnbieter::Create());
    c.builder(run.state);
    EXPECT_EQ(run.sent, std::vector<std::string>{c.frame});
    EXPECT_EQ(run.Lines(), std::vector<std::string>{c.log});
    EXPECT_EQ(run.events, (std::vector<std::string>{"callback:0", "send"}));
    EXPECT_EQ(run.state.tagesgeld->Anbieter()->Count(), 1) << "sending clears no tree";
  }
}

}  // namespace
}  // namespace vexcomm::deposits
