#include "quotes/quote_database.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <vexcomm/error.h>
#include <vexcomm/file_replace.h>

#include "platform/host_services.h"
#include "platform/private_folders.h"
#include "platform/utf8.h"
#include "quotes/date_sort_key.h"
#include "quotes/quote_internals.h"
#include "quotes/sqlite.h"
#include "quotes/stored_value.h"

namespace vexcomm {

using quotes::Connection;
using quotes::Statement;

namespace quotes {

namespace {

constexpr std::size_t kStoredNameLength = 60;

constexpr std::string_view kSchema[] = {
    "CREATE TABLE Aktien (ID INTEGER PRIMARY KEY, WKN TEXT, ISIN TEXT, Name TEXT)",
    "CREATE TABLE Kurse (ID INTEGER PRIMARY KEY, AktienID INTEGER, Datum TEXT, Kurs TEXT)",
    "CREATE INDEX KurseAktienDatum ON Kurse (AktienID, Datum)",
    "CREATE INDEX AktienWKN ON Aktien (WKN)",
};

int32_t ToLong(int64_t value) {
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    Raise(errnum::kOverflow);
  }
  return static_cast<int32_t>(value);
}

constexpr std::string_view kCopyMark = ".part-";
constexpr auto kStaleAfter = std::chrono::hours(1);

// Copies of the template left by a run that was killed: their writer is gone, or they are older
// than any copy takes. The name carries the writer's process ID; the fixed name of earlier
// versions goes by its age alone.
void RemoveStaleCopies(const std::filesystem::path& database) {
  const std::string prefix = database.filename().string() + ".part";
  std::error_code ec;
  const auto now = std::filesystem::file_time_type::clock::now();
  for (const auto& entry : std::filesystem::directory_iterator(database.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix)) continue;
    std::string_view rest = std::string_view(name).substr(prefix.size());
    if (!rest.empty() && !rest.starts_with('-')) continue;
    if (!rest.empty()) rest.remove_prefix(1);
    int pid = 0;
    const auto [end, pid_ec] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    const bool writer_gone =
        pid_ec == std::errc{} && pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
    std::error_code time_ec;
    const auto written = entry.last_write_time(time_ec);
    if (writer_gone || (!time_ec && now - written > kStaleAfter)) {
      std::filesystem::remove(entry.path(), time_ec);
    }
  }
}

// Copies under a name of its own first: a copy cut short never looks like a database, and two
// first runs at once never write into one file. The copy becomes the database only if none has
// appeared meanwhile (link fails then); otherwise the other run's database is used.
void CopyTemplate(const std::filesystem::path& from, const std::filesystem::path& to) {
  platform::CreatePrivateFolders(to.parent_path());
  AtomicFile out(to, AtomicFile::Placement::kIfAbsent,
                 std::string(kCopyMark) + std::to_string(::getpid()) + "-XXXXXX");
  if (out.error()) throw std::system_error(out.error(), std::generic_category(), to.string());
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) throw std::system_error(errno, std::generic_category(), from.string());
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(in);
      throw std::system_error(error, std::generic_category(), from.string());
    }
    if (n == 0) break;
    if (!out.Write(std::string_view(buf, static_cast<std::size_t>(n)))) {
      ::close(in);
      throw std::system_error(out.error(), std::generic_category(), out.temp_path().string());
    }
  }
  ::close(in);
  const int error = out.Commit();
  if (error != 0 && error != EEXIST) {
    throw std::system_error(error, std::generic_category(), to.string());
  }
}

// The prepared statements of one write pass.
struct WriteStatements {
  explicit WriteStatements(Connection& c)
      : find_stock(c.handle(), "SELECT ID FROM Aktien WHERE WKN = ?1 ORDER BY ID LIMIT 1"),
        add_stock(c.handle(), "INSERT INTO Aktien (ID, WKN, ISIN, Name) VALUES (?1, ?2, ?3, ?4)"),
        find_quote(c.handle(),
                   "SELECT ID FROM Kurse WHERE AktienID = ?1 AND Datum = ?2 ORDER BY ID LIMIT 1"),
        update_quote(c.handle(), "UPDATE Kurse SET Kurs = ?2 WHERE ID = ?1"),
        add_quote(c.handle(),
                  "INSERT INTO Kurse (ID, AktienID, Datum, Kurs) VALUES (?1, ?2, ?3, ?4)"),
        last_stock(c.handle(), "SELECT MAX(ID) FROM Aktien"),
        last_quote(c.handle(), "SELECT MAX(ID) FROM Kurse") {}

  Statement find_stock;
  Statement add_stock;
  Statement find_quote;
  Statement update_quote;
  Statement add_quote;
  Statement last_stock;
  Statement last_quote;
};

// What the write of one stock reads of it, taken on the host's thread: the host's code may
// change the stock while the statements run.
struct StockRows {
  explicit StockRows(const clsAktie& stock) : WKN(stock.WKN), ISIN(stock.ISIN), Name(stock.Name) {
    quotes.reserve(static_cast<std::size_t>(stock.KursCount()));
    for (int32_t i = 1; i <= stock.KursCount(); ++i) {
      auto quote = stock.Kurs(i);
      if (!quote) break;
      quotes.emplace_back(quote->Datum, quote->Kurs);
    }
  }
  std::string WKN, ISIN, Name;
  std::vector<std::pair<std::string, std::string>> quotes;  // Datum, Kurs
};

// Runs the database's work on a thread of its own while the calling thread keeps the host's
// events running: a commit waits for the disk, and a graphical host must not wait with it. One
// piece of work at a time, each to its end before Run returns, so the work and the host's code
// never overlap on the same data. Without the host's function everything runs in Run itself.
class WorkThread {
 public:
  explicit WorkThread(std::function<void()> host_events) : host_events_(std::move(host_events)) {}
  ~WorkThread() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  WorkThread(const WorkThread&) = delete;
  WorkThread& operator=(const WorkThread&) = delete;

  // Runs `work` to its end and rethrows what it threw.
  void Run(const std::function<void()>& work) {
    if (!host_events_) return work();
    if (!thread_.joinable()) thread_ = std::thread([this] { Serve(); });
    std::unique_lock lock(mutex_);
    work_ = &work;
    failure_ = nullptr;
    wake_.notify_all();
    while (work_ != nullptr) {
      if (done_.wait_for(lock, kPoll) == std::cv_status::timeout && work_ != nullptr) {
        lock.unlock();
        try {
          host_events_();  // runs only when its interval has passed
        } catch (...) {
        }
        lock.lock();
      }
    }
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  static constexpr std::chrono::milliseconds kPoll{5};

  void Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || work_ != nullptr; });
      if (work_ == nullptr) return;
      lock.unlock();
      std::exception_ptr failure;
      try {
        (*work_)();
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      failure_ = failure;
      work_ = nullptr;
      done_.notify_all();
    }
  }

  std::function<void()> host_events_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void()>* work_ = nullptr;
  std::exception_ptr failure_;
  bool stop_ = false;
};

// Merges one stock; the caller wraps it in a savepoint. Runs off the host's thread: `context`
// only collects its message boxes.
void WriteStock(WriteStatements& s, const StockRows& stock, const ResolvedDbContext& context) {
  // The stored WKN is found through its index: the transform is deterministic.
  s.find_stock.Bind(1, encode(stock.WKN));
  int64_t stock_id;
  if (s.find_stock.Step()) {
    stock_id = s.find_stock.Int64(0);
    s.find_stock.Reset();
  } else {
    s.find_stock.Reset();
    stock_id = int64_t{FindLastID(s.last_stock, Table::Aktien, context)} + 1;
    s.add_stock.Bind(1, stock_id)
        .Bind(2, encode(stock.WKN))
        .Bind(3, encode(stock.ISIN))
        .Bind(4, encode(platform::CodePointPrefix(stock.Name, kStoredNameLength)))
        .Execute();
  }
  for (const auto& [datum, kurs] : stock.quotes) {
    s.find_quote.Bind(1, stock_id).Bind(2, datum);
    if (s.find_quote.Step()) {
      // Same stock and date: the new price replaces the stored one, the row keeps its ID.
      int64_t quote_id = s.find_quote.Int64(0);
      s.find_quote.Reset();
      s.update_quote.Bind(1, quote_id).Bind(2, encode(kurs)).Execute();
    } else {
      s.find_quote.Reset();
      int64_t quote_id = int64_t{FindLastID(s.last_quote, Table::Kurse, context)} + 1;
      s.add_quote.Bind(1, quote_id)
          .Bind(2, stock_id)
          .Bind(3, datum)
          .Bind(4, encode(kurs))
          .Execute();
    }
  }
}

// The database side of one write pass: made, used and ended on the work thread.
struct WritePass {
  explicit WritePass(const std::filesystem::path& database)
      : connection(database, kDatabaseKey, Connection::Mode::ReadWrite),
        statements(connection),
        transaction(connection) {}
  Connection connection;
  WriteStatements statements;
  Transaction transaction;
};

void ShowFindLastIdFailure(Table table, const ResolvedDbContext& context) {
  std::string text = ErrorDescription(std::current_exception());
  text.append("\r\n\r\nTable = ").append(table == Table::Aktien ? "Aktien" : "Kurse");
  context.Message(kFindLastIdTitle, text);
}

}  // namespace

void ResolvedDbContext::Message(std::string_view title, std::string_view text) const {
  // Every box of the quote database tells of a failure: the first is the operation's result.
  if (!failure) failure = database.string() + ": " + std::string(text);
  try {
    message_box(std::string(title), std::string(text));
  } catch (...) {
    // The box is only a notice.
  }
}

ResolvedDbContext Resolve(const QuoteDbContext& context) {
  ResolvedDbContext resolved;
  std::string data_dir =
      context.data_dir.empty() ? platform::DefaultTextSetting(5) : context.data_dir;
  std::string ini_dir = context.ini_dir.empty() ? platform::DefaultTextSetting(3) : context.ini_dir;
  resolved.database = platform::WithSlash(std::move(data_dir)) + std::string(kDatabaseFileName);
  resolved.template_database =
      platform::WithSlash(std::move(ini_dir)) + std::string(kDatabaseFileName);
  resolved.message_box = context.message_box ? context.message_box : platform::DefaultMessageBox;
  resolved.log = context.log ? context.log : [](std::string_view) {};
  resolved.progress_step = context.progress_step ? context.progress_step : [] {};
  resolved.process_host_events = context.process_host_events;
  return resolved;
}

int32_t FindLastID(Connection& connection, Table table, const ResolvedDbContext& context) {
  std::unique_ptr<Statement> query;
  try {
    // The table name comes from the fixed pair, never from data.
    query = std::make_unique<Statement>(connection.handle(), table == Table::Aktien
                                                                 ? "SELECT MAX(ID) FROM Aktien"
                                                                 : "SELECT MAX(ID) FROM Kurse");
  } catch (...) {
    ShowFindLastIdFailure(table, context);
    return 0;
  }
  return FindLastID(*query, table, context);
}

int32_t FindLastID(Statement& max_query, Table table, const ResolvedDbContext& context) {
  try {
    int32_t last = 0;
    if (max_query.Step() && !max_query.IsNull(0)) last = ToLong(max_query.Int64(0));
    max_query.Reset();
    return last;
  } catch (...) {
    max_query.Reset();
    ShowFindLastIdFailure(table, context);
    return 0;
  }
}

}  // namespace quotes

bool colAktien::ReadDB() {
  return !detail::QuoteInternals::ReadDB(*this, detail::QuoteInternals::Stored::kAllQuotes);
}

std::optional<std::string> detail::QuoteInternals::ReadDB(colAktien& aktien, Stored what) {
  const bool last_date_only = what == Stored::kLastDateOnly;
  aktien.Clear();
  const auto context = quotes::Resolve(*aktien.context_);
  try {
    // No file is an empty collection; a folder that cannot hold one is a failure.
    std::error_code ec;
    const auto found = std::filesystem::status(context.database, ec);
    if (ec == std::errc::no_such_file_or_directory) return std::nullopt;
    if (ec) throw std::system_error(ec);
    if (found.type() == std::filesystem::file_type::not_found) return std::nullopt;
    // Read-write: a write cut short leaves a journal that only such a connection rolls back.
    Connection connection(context.database, quotes::kDatabaseKey, Connection::Mode::ReadWrite);
    Statement stocks(connection.handle(), "SELECT ID, WKN, ISIN, Name FROM Aktien ORDER BY ID");
    // Dates sort as dates (DD.MM.YYYY across years too); the stored text stays as sent.
    Statement quotes(connection.handle(), last_date_only
                                              ? "SELECT Datum FROM Kurse WHERE AktienID = ?1 "
                                                "ORDER BY vx_datum_key(Datum) DESC, ID DESC LIMIT 1"
                                              : "SELECT Datum, Kurs FROM Kurse WHERE AktienID = ?1 "
                                                "ORDER BY vx_datum_key(Datum), ID");
    while (stocks.Step()) {
      const int32_t id = quotes::ToLong(stocks.Int64(0));
      auto stock = AddFromDB(aktien, id, quotes::decode(stocks.Text(1)),
                             quotes::decode(stocks.Text(2)), quotes::decode(stocks.Text(3)));
      SetDBID(*stock, id);
      quotes.Bind(1, id);
      if (last_date_only) {
        if (quotes.Step()) stock->VonDatum = quotes.Text(0);
      } else {
        while (quotes.Step()) {
          std::string datum = quotes.Text(0);
          if (stock->KursCount() == 0) stock->VonDatum = datum;
          stock->KursAdd(std::move(datum), quotes::decode(quotes.Text(1)));
        }
        if (auto last = stock->Kurs(stock->KursCount())) stock->BisDatum = last->Datum;
      }
      quotes.Reset();
    }
  } catch (...) {
    context.Message(quotes::kWriteTitle, ErrorDescription(std::current_exception()));
  }
  return context.failure;
}

bool MergeIntoDatabase(colAktien& aktien) {
  return !quotes::WriteToDB(aktien);
}

std::optional<std::string> quotes::WriteToDB(colAktien& aktien) {
  const auto context = quotes::Resolve(aktien.DatabaseContext());
  quotes::WorkThread work(context.process_host_events);
  std::unique_ptr<quotes::WritePass> pass;
  // Message boxes of the work thread wait for the host's thread.
  std::vector<std::pair<std::string, std::string>> boxes;
  quotes::ResolvedDbContext collecting = context;
  collecting.message_box = [&boxes](const std::string& title, const std::string& text) {
    boxes.emplace_back(title, text);
  };
  auto show_boxes = [&] {
    for (const auto& [title, text] : boxes) context.Message(title, text);
    boxes.clear();
  };
  try {
    bool template_missing = false;
    work.Run([&] {
      quotes::RemoveStaleCopies(context.database);
      if (!std::filesystem::exists(context.database)) {
        template_missing = !std::filesystem::exists(context.template_database);
        if (template_missing) return;
        quotes::CopyTemplate(context.template_database, context.database);
      }
      // One transaction for the pass, one savepoint per stock: a crash leaves the file as it
      // was, a failure keeps the stocks written before it.
      pass = std::make_unique<quotes::WritePass>(context.database);
    });
    if (template_missing) {
      context.Message(quotes::kDefaultTitle, quotes::kTemplateMissing);
      return context.failure;
    }
    try {
      // Count is read afresh: the host's log handler may change the collection.
      for (int32_t i = 1; i <= aktien.Count(); ++i) {
        auto stock = aktien.Item(i);
        if (!stock) break;
        context.progress_step();
        if (stock->WKN.empty()) {
          context.log(stock->Name + ": Aktie hat keine WKN");
          continue;
        }
        const int32_t count = stock->KursCount();
        if (count == 0) {
          context.log(stock->Name + ": keine Kurse vorhanden ");
          continue;
        }
        context.log(stock->Name + ": " + std::to_string(count) + " Kurse speichern");
        const quotes::StockRows rows(*stock);
        work.Run([&] {
          quotes::Savepoint savepoint(pass->connection);
          quotes::WriteStock(pass->statements, rows, collecting);
          savepoint.Release();
        });
        show_boxes();
      }
    } catch (...) {
      show_boxes();
      // What was written before the failure stays. The failure is what the host hears of, not
      // a commit that finds the transaction already ended by it (a full disk rolls it back).
      work.Run([&] { pass->transaction.CommitIfActive(); });
      throw;
    }
    work.Run([&] { pass->transaction.Commit(); });
  } catch (...) {
    context.Message(quotes::kWriteTitle, ErrorDescription(std::current_exception()));
  }
  // Closed where it was used; a pass left open rolls back there.
  work.Run([&] { pass.reset(); });
  return context.failure;
}

bool clsAktie::DeleteFromDB() {
  const auto context = quotes::Resolve(context_ ? *context_ : QuoteDbContext{});
  if (dbid_ < 1) {
    context.Message(quotes::kDeleteTitle, quotes::kNoValidStockId);
    return false;
  }
  try {
    if (!std::filesystem::exists(context.database)) return false;
    Connection connection(context.database, quotes::kDatabaseKey, Connection::Mode::ReadWrite);
    // Both deletes or neither: a stock row never stays without its quotes.
    quotes::Transaction transaction(connection);
    Statement(connection.handle(), "DELETE FROM Kurse WHERE AktienID = ?1")
        .Bind(1, dbid_)
        .Execute();
    Statement(connection.handle(), "DELETE FROM Aktien WHERE ID = ?1").Bind(1, dbid_).Execute();
    transaction.Commit();
    return true;
  } catch (...) {
    context.Message(quotes::kDeleteTitle, ErrorDescription(std::current_exception()));
    return false;
  }
}

bool CreateTemplateDatabase(const std::filesystem::path& file) {
  std::error_code ec;
  if (std::filesystem::exists(file, ec) || ec) return false;
  try {
    // Readable by every user: it is what each one's first run copies.
    AtomicFile partial(file, AtomicFile::Placement::kIfAbsent, ".part-XXXXXX", 0644);
    if (partial.error()) return false;
    {
      Connection connection(partial.temp_path(), quotes::kDatabaseKey, Connection::Mode::Create);
      quotes::Transaction transaction(connection);
      for (std::string_view sql : quotes::kSchema) connection.Execute(sql);
      transaction.Commit();
    }
    return partial.Commit() == 0;
  } catch (...) {
    return false;
  }
}

}  // namespace vexcomm
