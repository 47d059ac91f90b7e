#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <vexcomm/dispatch.h>
#include <vexcomm/error.h>

#include "automation/member_table.h"
#include "support/error_of.h"

namespace vexcomm::automation {
namespace {

// A small class with the kinds of members the component's classes have.
class Account : public DispatchObject<Account> {
 public:
  static constexpr std::string_view kTypeName = "Account";
  static constexpr std::string_view kIid = "{0A1B2C3D-0000-4000-8000-00000000ABCD}";

  static const std::vector<Member<Account>>& Members() {
    static const std::vector<Member<Account>> members = {
        {"Balance", kDispIdValue, InvokeKind::PropertyGet, 0,
         [](Account& a, Args) -> Variant { return a.balance; }},
        {"Balance", kDispIdValue, InvokeKind::PropertyPut, 1,
         [](Account& a, Args args) -> Variant {
           a.balance = args[0].ToInt32();
           return {};
         }},
        {"Deposit", 1, InvokeKind::Method, 2,
         [](Account& a, Args args) -> Variant {
           a.balance += args[0].ToInt32() * args[1].ToInt32();
           return a.balance;
         }},
        {"Owner", 2, InvokeKind::PropertyGet, 0, [](Account&, Args) -> Variant { return "Anna"; }},
        {"Swap", 3, InvokeKind::Method, 1,
         [](Account& a, Args args) -> Variant {
           int32_t old = a.balance;
           a.balance = args[0].ToInt32();
           args[0] = Variant(old);  // by reference
           return {};
         }},
    };
    return members;
  }
  static std::span<const std::string_view> InterfaceIds() {
    static constexpr std::string_view ids[] = {kIid};
    return ids;
  }

  int32_t balance = 0;
};

// The same through a MemberSet, as a class whose base is fixed implements Dispatch: optional
// arguments, a result also handed back by reference, a default member with an id of its own.
class Teller : public Dispatch {
 public:
  std::string_view TypeName() const override { return "Teller"; }
  std::optional<DispId> GetIdOfName(std::string_view name) const override {
    return Members().IdOfName(name);
  }
  Variant Invoke(DispId id, InvokeKind kind, Args args) override {
    return Members().Invoke(*this, id, kind, args);
  }

  int32_t balance = 0;

 private:
  // Pay(amount, [times], [balance after]).
  static const MemberSet<Teller>& Members() {
    static const auto members = MemberTable<Teller>()
                                    .Get("Balance", 1, [](Teller& t) { return t.balance; })
                                    .Method("Pay", 2, ArgCount{1, 3},
                                            [](Teller& t, Args a) {
                                              const int32_t amount = a[0].ToInt32();
                                              t.balance -=
                                                  amount * (a.size() > 1 ? a[1].ToInt32() : 1);
                                              return t.balance;
                                            })
                                    .ResultAlsoTo(2)
                                    .DefaultMember(1)
                                    .BuildSet();
    return members;
  }
};

TEST(DispatchObject, InvokeChecksKindAndArgumentCount) {
  struct Case {
    const char* name;
    DispId id;
    InvokeKind kind;
    std::vector<Variant> args;
    int32_t error;  // 0: the call succeeds
    Variant result;
    bool teller = false;                   // called on a Teller rather than an Account
    std::optional<Variant> last_arg = {};  // the last argument after the call
  } const cases[] = {
      {"Get", kDispIdValue, InvokeKind::PropertyGet, {}, 0, Variant(int32_t{10})},
      {"GetAsMethod", kDispIdValue, InvokeKind::Method, {}, 0, Variant(int32_t{10})},
      {"Put", kDispIdValue, InvokeKind::PropertyPut, {Variant(5)}, 0, Variant()},
      {"Method", 1, InvokeKind::Method, {Variant(2), Variant(3)}, 0, Variant(int32_t{16})},
      {"MethodAsGet", 1, InvokeKind::PropertyGet, {Variant(1), Variant(1)}, 0, Variant(11)},
      {"PutOnMethod", 1, InvokeKind::PropertyPut, {Variant(1), Variant(1)}, 438, {}},
      {"PutOnGetOnly", 2, InvokeKind::PropertyPut, {Variant("x")}, 438, {}},
      {"UnknownId", 99, InvokeKind::Method, {}, 438, {}},
      {"TooFewForMethod", 1, InvokeKind::Method, {Variant(1)}, 450, {}},
      {"ArgumentForGet", kDispIdValue, InvokeKind::PropertyGet, {Variant(1)}, 450, {}},
      {"NoValueForPut", kDispIdValue, InvokeKind::PropertyPut, {}, 450, {}},
      {"WrongArgumentKind", 1, InvokeKind::Method, {Variant("x"), Variant(1)}, 13, {}},
      {"OptionalLeftOut", 2, InvokeKind::Method, {Variant(3)}, 0, Variant(7), true},
      {"OptionalGiven", 2, InvokeKind::Method, {Variant(3), Variant(2)}, 0, Variant(4), true},
      {"ResultByReference",
       2,
       InvokeKind::Method,
       {Variant(1), Variant(1), Variant()},
       0,
       Variant(9),
       true,
       Variant(9)},
      {"TooFewForOptional", 2, InvokeKind::Method, {}, 450, {}, true},
      {"TooManyForOptional",
       2,
       InvokeKind::Method,
       {Variant(1), Variant(1), Variant(), Variant()},
       450,
       {},
       true},
      {"DefaultMemberOfItsOwnId", kDispIdValue, InvokeKind::PropertyGet, {}, 0, Variant(10), true},
      {"PutOnOptional", 2, InvokeKind::PropertyPut, {Variant(1)}, 438, {}, true},
  };
  for (const auto& c : cases) {
    Account account;
    account.balance = 10;
    Teller teller;
    teller.balance = 10;
    Dispatch& object = c.teller ? static_cast<Dispatch&>(teller) : account;
    auto args = c.args;
    try {
      Variant result = object.Invoke(c.id, c.kind, args);
      EXPECT_EQ(c.error, 0) << c.name << ": no error";
      EXPECT_EQ(result, c.result) << c.name;
      if (c.last_arg) {
        EXPECT_EQ(args.back(), *c.last_arg) << c.name;
      }
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), c.error) << c.name;
      EXPECT_EQ(account.balance + teller.balance, 20)
          << c.name << ": a failed call changed the object";
    }
  }
}

TEST(DispatchObject, ByNameCaseInsensitivelyWithReferenceArgumentsAndInterfaces) {
  auto account_ptr = std::make_shared<Account>();
  Dispatch& object = *account_ptr;
  object.Put("balance", 7);
  EXPECT_EQ(object.Get("BALANCE"), Variant(int32_t{7}));
  EXPECT_EQ(object.Call("Deposit", {Variant(2), Variant(int16_t{4})}), Variant(int32_t{15}));

  std::vector<Variant> args = {Variant(100)};
  object.Invoke(object.IdOf("swap"), InvokeKind::Method, args);
  EXPECT_EQ(account_ptr->balance, 100);
  EXPECT_EQ(args[0], Variant(int32_t{15}));

  // Names match whole and case-insensitively in ASCII only.
  for (const char* name : {"Withdraw", "", "Balanc", "Balance ", "Own\xC3\xA9r"})
    EXPECT_EQ(test::ErrorOf([&] { object.Call(name); }), errnum::kMemberNotFound) << name;

  Account& account = *account_ptr;
  EXPECT_TRUE(account.Supports(Account::kIid));
  EXPECT_TRUE(account.Supports("{0a1b2c3d-0000-4000-8000-00000000abcd}"));
  EXPECT_TRUE(account.Supports(kIidDispatch));
  EXPECT_FALSE(account.Supports("{0A1B2C3D-0000-4000-8000-00000000ABCE}"));
  EXPECT_FALSE(account.Supports(""));
  EXPECT_EQ(account.TypeName(), "Account");
}

TEST(EventSource, DeliversToEverySinkInOrder) {
  std::vector<std::string> heard;
  auto record = [&](const char* who, DispId id, Args args) {
    std::string line = std::string(who) + " " + std::to_string(id);
    for (const auto& a : args) line += " " + a.ToString();
    heard.push_back(line);
  };
  EventSource source;
  EXPECT_FALSE(source.HasSinks());
  auto object = MakeDynamicObject("Sink", {{"first",
                                            [&](Args a) -> Variant {
                                              record("object", 1, a);
                                              return {};
                                            }},
                                           {"second", [&](Args a) -> Variant {
                                              record("object", 2, a);
                                              a[0] = Variant("changed");  // by reference
                                              return {};
                                            }}});
  source.Advise(object);
  source.Advise([&](DispId id, Args a) { record("function", id, a); });
  EXPECT_TRUE(source.HasSinks());

  std::vector<Variant> args = {Variant("in"), Variant(3)};
  source.Raise(2, args);
  EXPECT_EQ(args[0], Variant("changed"));
  source.Raise(1, {});
  EXPECT_EQ(heard, (std::vector<std::string>{"object 2 in 3", "function 2 changed 3", "object 1",
                                             "function 1"}));
}

TEST(EventSource, FailingSinksAreSwallowed) {
  EventSource source;
  int reached = 0;
  source.Advise([](DispId, Args) { throw Error(5, "host"); });
  source.Advise([](DispId, Args) { throw std::runtime_error("host"); });
  source.Advise([](DispId, Args) { throw 42; });
  source.Advise(MakeDynamicObject("Sink", {}));  // has no member for the event: 438
  source.Advise([&](DispId, Args) { ++reached; });
  EXPECT_NO_THROW(source.Raise(1, {}));
  EXPECT_EQ(reached, 1);
  // No object is refused.
  EXPECT_EQ(test::ErrorOf([&] { source.Advise(std::shared_ptr<Dispatch>()); }),
            errnum::kObjectNotSet);
}

TEST(EventSource, SinksChangingDuringRaise) {
  struct Case {
    const char* name;
    // What the first sink does on the first event; the sink list is [first, second].
    std::function<void(EventSource&, EventSource::Cookie self, EventSource::Cookie second,
                       EventSource::Cookie& added, std::vector<std::string>& log)>
        action;
    std::vector<std::string> first_event;
    std::vector<std::string> second_event;
  } const cases[] = {
      {"UnadviseLater",
       [](EventSource& s, auto, auto second, auto&, auto&) { s.Unadvise(second); },
       {"first"},
       {"first"}},
      {"UnadviseSelf",
       [](EventSource& s, auto self, auto, auto&, auto&) { s.Unadvise(self); },
       {"first", "second"},
       {"second"}},
      {"AdviseNew",
       [](EventSource& s, auto, auto, auto& added, auto& log) {
         added = s.Advise([&log](DispId, Args) { log.push_back("new"); });
       },
       {"first", "second"},
       {"first", "second", "new"}},
      {"UnadviseUnknown",
       [](EventSource& s, auto, auto, auto&, auto&) { s.Unadvise(12345); },
       {"first", "second"},
       {"first", "second"}},
  };
  for (const auto& c : cases) {
    EventSource source;
    std::vector<std::string> log;
    EventSource::Cookie self = 0;
    EventSource::Cookie second = 0;
    EventSource::Cookie added = 0;
    bool acted = false;
    self = source.Advise([&](DispId, Args) {
      log.push_back("first");
      if (!acted) {
        acted = true;
        c.action(source, self, second, added, log);
      }
    });
    second = source.Advise([&](DispId, Args) { log.push_back("second"); });
    source.Raise(1, {});
    EXPECT_EQ(log, c.first_event) << c.name;
    log.clear();
    source.Raise(1, {});
    EXPECT_EQ(log, c.second_event) << c.name;
  }
}

TEST(EventSource, SinkObjectReleasedByItsOwnHandlerStaysAliveForTheCall) {
  EventSource source;
  EventSource::Cookie cookie = 0;
  int calls = 0;
  auto sink = MakeDynamicObject("Sink", {{"event", [&](Args) -> Variant {
                                            source.Unadvise(cookie);  // drops the last reference
                                            ++calls;
                                            return {};
                                          }}});
  cookie = source.Advise(std::move(sink));
  source.Raise(1, {});
  source.Raise(1, {});
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(source.HasSinks());
}

TEST(MakeCallback, CallsTheFunctionByName) {
  struct Case {
    const char* name;
    const char* member;
    std::vector<Variant> args;
    int32_t error;
    int16_t kind;
    std::string text;
  } const cases[] = {
      {"Plain", "callback", {Variant(int16_t{0}), Variant("Log")}, 0, 0, "Log"},
      {"AnyCase", "CallBack", {Variant(int16_t{3}), Variant("Status")}, 0, 3, "Status"},
      {"LongKind", "callback", {Variant(int32_t{4}), Variant("Name")}, 0, 4, "Name"},
      {"NumberText", "callback", {Variant(int16_t{2}), Variant(50)}, 0, 2, "50"},
      {"TooFew", "callback", {Variant(int16_t{0})}, 450, 0, ""},
      {"KindTooLarge", "callback", {Variant(int32_t{70000}), Variant("a")}, 6, 0, ""},
      {"OtherName", "notify", {Variant(int16_t{0}), Variant("a")}, 438, 0, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::pair<int16_t, std::string>> calls;
    auto callback = MakeCallback(
        [&](int16_t kind, const std::string& text) { calls.emplace_back(kind, text); });
    try {
      callback->Call(c.member, c.args);
      EXPECT_EQ(c.error, 0) << c.name;
      ASSERT_EQ(calls.size(), 1u) << c.name;
      EXPECT_EQ(calls[0].first, c.kind) << c.name;
      EXPECT_EQ(calls[0].second, c.text) << c.name;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), c.error) << c.name;
      EXPECT_TRUE(calls.empty()) << c.name;
    }
  }
}

TEST(RegisterClass, CreatesByProgIdAnyCaseAndRefusesOthers) {
  int created = 0;
  RegisterClass("VexCommTest.Thing", [&] {
    ++created;
    return MakeDynamicObject("Thing", {});
  });
  auto a = CreateRegisteredObject("VexCommTest.Thing");
  auto b = CreateRegisteredObject("vexcommtest.thing");
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->TypeName(), "Thing");
  EXPECT_EQ(created, 2);

  // A second registration of the same ProgID replaces the first.
  RegisterClass("VEXCOMMTEST.THING", [] { return MakeDynamicObject("Other", {}); });
  EXPECT_EQ(CreateRegisteredObject("VexCommTest.Thing")->TypeName(), "Other");
  EXPECT_EQ(created, 2);
  for (const char* unknown : {"VexCommTest.Thing2", "VexCommTest.Thin", ""})
    EXPECT_EQ(test::ErrorOf([&] { CreateRegisteredObject(unknown); }), 429) << unknown;
}

}  // namespace
}  // namespace vexcomm::automation
