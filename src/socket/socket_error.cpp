#include "socket/socket_error.h"

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <cerrno>

namespace vexcomm::platform {

SocketError ToSocketError(const std::error_code& ec) {
  namespace ae = asio::error;
  if (ec == ae::host_not_found) return {"11001", "Host nicht gefunden"};
  if (ec == ae::host_not_found_try_again) return {"11002", "Host nicht gefunden (Namensdienst)"};
  if (ec == ae::no_recovery) return {"11003", "Namensauflösung fehlgeschlagen"};
  if (ec == ae::no_data) return {"11004", "Keine Adresse zum Namen gefunden"};
  if (ec == ae::eof) return {"10053", "Die Gegenstelle hat die Verbindung beendet"};
  if (ec.category() == ae::get_ssl_category() || ec == asio::ssl::error::stream_truncated) {
    return {"10053", "TLS-Fehler: " + ec.message()};
  }
  // Asio's system errors have a category of their own; all three carry errno values.
  const bool is_errno = ec.category() == ae::get_system_category() ||
                        ec.category() == std::system_category() ||
                        ec.category() == std::generic_category();
  switch (is_errno ? ec.value() : 0) {
    case ECONNREFUSED:
      return {"10061", "Der Server hat die Verbindung abgelehnt"};
    case ETIMEDOUT:
      return {"10060", "Zeitüberschreitung der Verbindung"};
    case ECONNRESET:
    case EPIPE:
      return {"10054", "Die Verbindung wurde vom Server zurückgesetzt"};
    case ECONNABORTED:
      return {"10053", "Die Verbindung wurde abgebrochen"};
    case ENETUNREACH:
      return {"10051", "Netzwerk nicht erreichbar"};
    case EHOSTUNREACH:
      return {"10065", "Host nicht erreichbar"};
    case ENETDOWN:
      return {"10050", "Netzwerk ausgefallen"};
    case EADDRINUSE:
      return {"10048", "Adresse wird bereits verwendet"};
    case EADDRNOTAVAIL:
      return {"10049", "Adresse nicht verfügbar"};
    case EACCES:
      return {"10013", "Zugriff verweigert"};
    default:
      return {"10053", "Die Verbindung wurde abgebrochen: " + ec.message()};
  }
}

}  // namespace vexcomm::platform
