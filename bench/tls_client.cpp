// The least a program must do for one short exchange with the server: TCP connect, a TLS 1.3
// handshake that verifies the chain and the host name, one request, and its reply read until
// ":MSGEND". The floor of the start-up rows: measured as a whole process, like vexcomm.
//
//   vexcomm_tls_client HOST ADDRESS PORT CA_FILE REQUEST
//
// Exits 0 when a whole reply came, 1 otherwise. C library calls only, so that it loads no more
// than libssl and libcrypto.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  const char* host = argv[1];
  const char* request = argv[5];

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(atoi(argv[3])));
  if (inet_pton(AF_INET, argv[2], &address.sin_addr) != 1) return 2;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
  if (SSL_CTX_load_verify_locations(ctx, argv[4], nullptr) != 1) return 1;
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  SSL* ssl = SSL_new(ctx);
  SSL_set_tlsext_host_name(ssl, host);
  SSL_set1_host(ssl, host);
  SSL_set_fd(ssl, fd);
  if (SSL_connect(ssl) != 1 || SSL_get_verify_result(ssl) != X509_V_OK) return 1;

  const int length = static_cast<int>(strlen(request));
  if (SSL_write(ssl, request, length) != length) return 1;
  static char reply[65536];
  size_t received = 0;
  const char kEnd[] = ":MSGEND";
  const size_t end_length = sizeof kEnd - 1;
  while (received < sizeof reply) {
    const int n = SSL_read(ssl, reply + received, static_cast<int>(sizeof reply - received));
    if (n <= 0) return 1;
    received += static_cast<size_t>(n);
    if (received >= end_length && memcmp(reply + received - end_length, kEnd, end_length) == 0) {
      SSL_shutdown(ssl);
      close(fd);
      return 0;
    }
  }
  return 1;
}
