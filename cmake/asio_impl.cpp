// Asio's separately compiled implementation: built once, linked by the files that use Asio.
#include <asio/impl/src.hpp>
#include <asio/ssl/impl/src.hpp>
