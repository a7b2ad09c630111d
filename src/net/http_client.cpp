#include "net/http_client.h"

namespace sondrel::net {

HttpClient::~HttpClient() = default;

}  // namespace sondrel::net
