#include "platform/trace_file.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>
#include <system_error>

#include "platform/escape.h"

namespace vexcomm {

TraceSink::~TraceSink() = default;

std::string_view TraceTypeName(TraceRecord::Type type) {
  switch (type) {
    case TraceRecord::Type::kConnect:
      return "connect";
    case TraceRecord::Type::kTls:
      return "tls";
    case TraceRecord::Type::kSent:
      return "sent";
    case TraceRecord::Type::kReceived:
      return "received";
    case TraceRecord::Type::kEnd:
      return "end";
  }
  return "unknown";
}

std::string_view TraceMaskKindName(TraceMask::Kind kind) {
  switch (kind) {
    case TraceMask::Kind::kIdentity:
      return "identity";
    case TraceMask::Kind::kText:
      return "text";
    case TraceMask::Kind::kFile:
      return "file";
  }
  return "unknown";
}

namespace platform {

void Trace(TraceSink& sink, const TraceRecord& record) noexcept {
  try {
    sink.Record(record);
  } catch (...) {
    // The trace serves the run, never the other way round.
  }
}

std::string Sha256Hex(std::string_view octets) {
  // Fetched and made once per thread: OpenSSL 3 would otherwise look the algorithm up and make a
  // context on every call, which costs more than hashing a small file.
  static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  thread_local const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(
      EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  std::string hex;
  if (!sha256 || !context || EVP_DigestInit_ex(context.get(), sha256, nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), octets.data(), octets.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), md, &size) != 1) {
    return hex;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  hex.resize(2 * size);
  for (unsigned int i = 0; i < size; ++i) {
    hex[2 * i] = kHex[md[i] >> 4];
    hex[2 * i + 1] = kHex[md[i] & 15];
  }
  return hex;
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  std::size_t plain = 0;  // start of the run of characters that need no escape
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(plain, i - plain));
    plain = i + 1;
    AppendEscapedByte(out, c, "\\u00");
  }
  out.append(text.substr(plain));
  out += '"';
}

namespace {

class TraceFile final : public TraceSink {
 public:
  explicit TraceFile(const std::filesystem::path& file) : file_(Open(file)) {
    std::setvbuf(file_, nullptr, _IOFBF, std::size_t{1} << 16);
  }
  ~TraceFile() override { std::fclose(file_); }
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  void Record(const TraceRecord& r) override {
    line_.clear();
    line_ += '{';
    if (first_) {
      line_ += "\"schema\":";
      AppendJsonString(line_, kTraceSchema);
      line_ += r.unmasked ? ",\"masked\":false," : ",\"masked\":true,";
      first_ = false;
    }
    line_ += "\"type\":\"";
    line_ += TraceTypeName(r.type);
    line_ += "\",\"t_us\":";
    AppendNumber(static_cast<std::size_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(r.time.time_since_epoch()).count()));
    for (const auto& f : r.fields) {
      line_ += ',';
      AppendJsonString(line_, f.name);
      line_ += ':';
      AppendJsonString(line_, f.value);
    }
    if (r.type == TraceRecord::Type::kSent || r.type == TraceRecord::Type::kReceived) {
      line_ += ",\"frame\":";
      AppendJsonString(line_, r.frame);
      line_ += ",\"masks\":[";
      for (std::size_t i = 0; i < r.masks.size(); ++i) AppendMask(r.masks[i], i > 0);
      line_ += ']';
    }
    line_ += "}\n";
    std::fwrite(line_.data(), 1, line_.size(), file_);
    // A run's end is where a crash would cost the most: what led to it is on disk.
    if (r.type == TraceRecord::Type::kEnd) std::fflush(file_);
  }

 private:
  // A trace holds banking data: readable by the user only, also when it replaces an older one.
  static std::FILE* Open(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) ::fchmod(fd, 0600);
    std::FILE* stream = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!stream) {
      const int error = errno;
      if (fd >= 0) ::close(fd);
      throw std::system_error(error, std::generic_category(), "trace file " + file.string());
    }
    return stream;
  }

  void AppendNumber(std::size_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    line_.append(digits, end);
  }

  void AppendMask(const TraceMask& m, bool comma) {
    line_ += comma ? ",{\"element\":" : "{\"element\":";
    AppendNumber(static_cast<std::size_t>(m.element));
    line_ += ",\"kind\":\"";
    line_ += TraceMaskKindName(m.kind);
    line_ += "\",\"length\":";
    AppendNumber(m.length);
    if (m.kind == TraceMask::Kind::kFile) {
      line_ += ",\"sha256\":";
      AppendJsonString(line_, m.sha256);
      line_ += ",\"first\":";
      AppendJsonString(line_, m.first);
      line_ += ",\"last\":";
      AppendJsonString(line_, m.last);
    }
    line_ += '}';
  }

  std::FILE* file_;
  std::string line_;  // kept from record to record: no allocation per frame once grown
  bool first_ = true;
};

}  // namespace
}  // namespace platform

std::shared_ptr<TraceSink> OpenTraceFile(const std::filesystem::path& file) {
  return std::make_shared<platform::TraceFile>(file);
}

}  // namespace vexcomm
