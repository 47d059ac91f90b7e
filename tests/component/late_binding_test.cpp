#include <vexcomm/deposits.h>
#include <vexcomm/quotes.h>

#include "component/component_fixture.h"
#include "support/error_of.h"

namespace vexcomm::testing {
namespace {

using automation::Dispatch;
using automation::InvokeKind;
using automation::Variant;

class LateBindingTest : public ComponentTest {};

TEST_F(LateBindingTest, HostDrivesARunByNameAndById) {
  std::shared_ptr<Dispatch> obj = vc;
  std::vector<std::pair<automation::DispId, std::vector<Variant>>> sink_calls;
  // A host sink bound by dispatch id: 1 NochAufServer, 2 Delete, 3 NeueDatei.
  auto record = [&](automation::DispId id) {
    return [&, id](automation::Args a) {
      sink_calls.push_back({id, {a.begin(), a.end()}});
      return Variant();
    };
  };
  vc->Events().Advise(automation::MakeDynamicObject(
      "Sink", {{"NochAufServer", record(1)}, {"Delete", record(2)}, {"NeueDatei", record(3)}}));
  std::vector<std::string> lines;
  obj->Call("SETCALLBACK",
            {Variant(automation::MakeCallback([&](int16_t kind, const std::string& t) {
              if (kind == 0) lines.push_back(t);
            }))});
  obj->Call("SetSocket", {Variant(std::static_pointer_cast<Dispatch>(sock))});
  Variant modus[] = {Variant(int16_t{2})};
  obj->Invoke(0x68030006, InvokeKind::PropertyPut, modus);
  sock->replies = {{"VEXMSG:2:AINEW:2:MSGEND"},
                   {FileFrame(5, "neu.txt", "Inhalt", "txt")},
                   {FileFrame(6, "alt", "", "delete", "5")}};
  EXPECT_EQ(obj->Invoke(0x6003000E, InvokeKind::Method, {}), Variant(false));

  ASSERT_EQ(sink_calls.size(), 3u);
  EXPECT_EQ(sink_calls[0].first, 3);
  const auto& file = sink_calls[0].second;
  ASSERT_EQ(file.size(), 10u);
  EXPECT_EQ(file[0], Variant(5));
  EXPECT_EQ(file[2], Variant("TXT"));
  EXPECT_EQ(file[9], Variant("Inhalt"));
  EXPECT_EQ(sink_calls[1].first, 2);
  const auto& array = sink_calls[1].second.at(0).ToArray();
  ASSERT_EQ(array.size(), 2u);
  EXPECT_TRUE(array[0].is_empty());
  EXPECT_EQ(array[1], Variant("5"));
  EXPECT_EQ(sink_calls[2], (std::pair<automation::DispId, std::vector<Variant>>{1, {Variant(0)}}));

  auto fehler = obj->Get("Fehler").ToObject();
  EXPECT_EQ(fehler->Get("Code"), Variant(0));
  EXPECT_EQ(fehler->Invoke(0x40030001, InvokeKind::PropertyGet, {}), Variant(0));
  EXPECT_EQ(obj->Get("modus"), Variant(2));
  EXPECT_EQ(run().user.DateiNr, 6);
  EXPECT_FALSE(lines.empty());
}

// The typed handler borrows the content instead of copying it; whoever comes after it, a
// failing handler included, must still see the whole content.
TEST_F(LateBindingTest, EverySinkSeesTheContentAfterATypedHandler) {
  std::vector<std::string> seen;
  vc->OnNeueDatei([&](const NeueDateiEvent& e) {
    seen.push_back(e.Datei);
    throw std::runtime_error("host handler fails");
  });
  // Bound by dispatch id: NeueDatei is 3.
  auto ignore = [](automation::Args) { return Variant(); };
  vc->Events().Advise(automation::MakeDynamicObject(
      "Sink",
      {{"NochAufServer", ignore}, {"Delete", ignore}, {"NeueDatei", [&](automation::Args a) {
                                                         seen.push_back(a[9].ToString());
                                                         return Variant();
                                                       }}}));
  vc->OnNeueDatei([&](const NeueDateiEvent& e) { seen.push_back(e.Datei); });
  vc->SetSocket(sock);
  vc->SetModus(VexCommGetNew);
  sock->replies = {{"VEXMSG:2:AINEW:1:MSGEND"}, {FileFrame(5, "neu.txt", "Inhalt", "txt")}};
  vc->Send();
  EXPECT_EQ(seen, (std::vector<std::string>{"Inhalt", "Inhalt", "Inhalt"}));
}

TEST_F(LateBindingTest, MembersAndFailures) {
  std::shared_ptr<Dispatch> obj = vc;
  const std::pair<const char*, automation::DispId> members[] = {
      {"Aktien", 0x6803000A},      {"Fehler", 0x68030007},     {"Modus", 0x68030006},
      {"Tagesgeld", 0x68030002},   {"CancelSend", 0x6003000D}, {"Send", 0x6003000E},
      {"SetCallback", 0x6003000F}, {"SetSocket", 0x60030010},  {"Festgeld", 0x68030015},
      {"LogSupport", 0x6803001D},  {"LogDatum", 0x6803001E},   {"LogText", 0x6803001F},
      {"Outcome", 0x68030020},     {"RefuseFile", 0x60030021}};
  for (auto [name, id] : members) EXPECT_EQ(obj->GetIdOfName(name), id) << name;
  EXPECT_EQ(obj->Get("Aktien").ToObject(), std::static_pointer_cast<Dispatch>(vc->Aktien()));
  EXPECT_EQ(obj->Get("Festgeld").ToObject()->TypeName(), "clsTagesgeld");
  obj->Put("LogSupport", Variant("log"));
  EXPECT_EQ(obj->Get("LogSupport"), Variant("log"));
  EXPECT_TRUE(obj->Supports("{f9d883c9-070a-4892-9a1d-13ff336080b4}"));
  EXPECT_TRUE(obj->Supports("{DD287744-8ADE-4928-8A18-932227F24712}"));
  EXPECT_FALSE(obj->Supports("{00000000-0000-0000-0000-000000000001}"));

  // LogDatum is write-only; unknown members, wrong argument counts and wrong objects fail.
  EXPECT_EQ(test::ErrorOf([&] { obj->Get("LogDatum"); }), errnum::kMemberNotFound);
  EXPECT_EQ(test::ErrorOf([&] { obj->Call("Nothing"); }), errnum::kMemberNotFound);
  EXPECT_EQ(test::ErrorOf([&] { obj->Call("SetSocket"); }), errnum::kWrongArgumentCount);
  auto previous = state().sink->sock();
  for (const Variant& wrong : {Variant(vc->Fehler()), Variant("text")})
    EXPECT_EQ(test::ErrorOf([&] { obj->Call("SetSocket", {wrong}); }), errnum::kTypeMismatch);
  EXPECT_EQ(state().sink->sock(), previous);
  obj->Call("SetSocket", {Variant()});
  EXPECT_EQ(state().sink->sock(), nullptr);
}

TEST_F(LateBindingTest, PlainValuesOutliveTheLastInstance) {
  vc->SetModus(vexCommTGA);
  vc->SetLogText("text");
  auto old_fehler = vc->Fehler();
  old_fehler->Text = "kept by the host";
  vc->SetCallback(automation::MakeCallback([](int16_t, const std::string&) {}));
  sock.reset();
  vc.reset();
  EXPECT_EQ(state().instance_count, 0);
  EXPECT_EQ(state().sink, nullptr);
  EXPECT_EQ(state().run.fehler, nullptr);
  EXPECT_EQ(state().run.callback, nullptr);  // the host's objects are let go
  vc = VexComm::Create(*module);
  EXPECT_EQ(vc->Modus(), vexCommTGA);
  EXPECT_EQ(run().log_text, "text");
  EXPECT_NE(vc->Fehler(), old_fehler);  // objects are made anew
  EXPECT_EQ(old_fehler->Text, "kept by the host");

  // A count that cannot go up is told in a box; the object is still made.
  std::vector<std::string> titles;
  run().host.message_box = [&](const std::string& title, const std::string&) {
    titles.push_back(title);
  };
  state().instance_count = std::numeric_limits<int32_t>::max();
  EXPECT_NE(VexComm::Create(*module), nullptr);
  EXPECT_EQ(titles, std::vector<std::string>{"Vexcomm.Init"});
  state().instance_count = 1;
}

TEST_F(LateBindingTest, CreateObjectByProgIdInTheProcessModule) {
  // The process-wide module reads its folders from the environment at first use.
  setenv("VEXCOMM_INI_DIR", (dir / "ini").c_str(), 1);
  setenv("VEXCOMM_DATA_DIR", (dir / "data").c_str(), 1);
  setenv("VEXCOMM_REGISTRY_DIR", (dir / "registry").c_str(), 1);
  auto obj = CreateObject("vexcomm5.vexcomm");
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->TypeName(), "VexComm");
  EXPECT_TRUE(obj->Supports(com::kIidVexComm));
  auto fehler = obj->Get("Fehler").ToObject();
  EXPECT_EQ(fehler->Get("Code"), automation::Variant(0));
  auto second = CreateObject("VexComm5.VexComm");
  EXPECT_EQ(second->Get("Fehler").ToObject(), fehler);  // one shared state per process

  for (const char* name :
       {"colAktien", "clsAktie", "clsTagesgeld", "colTGAnbieter", "clsTGAnbieter", "colTGProdukte",
        "clsTGProdukt", "colTGZinsen", "clsTGZins", "colFGZinsen", "clsFGZins"}) {
    auto created = CreateObject(std::string("VexComm5.") + name);
    ASSERT_NE(created, nullptr) << name;
    EXPECT_EQ(created->TypeName(), std::string_view(name));
  }
  EXPECT_NE(CreateObject("VexComm5.clsTagesgeld"), CreateObject("VexComm5.clsTagesgeld"));
  for (const char* prog_id : {"VexComm5.clsKurs", "VexComm5.clsElement", "Nothing.Here"})
    EXPECT_EQ(test::ErrorOf([&] { CreateObject(prog_id); }), 429) << prog_id;
}

}  // namespace
}  // namespace vexcomm::testing
