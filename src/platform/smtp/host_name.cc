#include "platform/smtp/host_name.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <string_view>

#include "util/text.h"

namespace postrix::smtp {

namespace {

// A name made only of letters, digits, "-" and ".", with a dot inside it.
bool isDomain(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.back() == '.') return false;
  if (name.find('.') == std::string_view::npos) return false;
  for (char c : name) {
    bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && c != '-' && c != '.') return false;
  }
  return true;
}

}  // namespace

namespace {

std::string lookUpHostDomainName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return {};
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string canonical;
  if (getaddrinfo(name, nullptr, &hints, &found) == 0 && found) {
    if (found->ai_canonname) canonical = found->ai_canonname;
    freeaddrinfo(found);
  }
  for (const std::string& candidate : {canonical, std::string(name)})
    if (isDomain(candidate)) return toLower(candidate);
  return {};
}

}  // namespace

std::string hostDomainName() {
  // Looked up once: with an unreachable resolver each lookup can take seconds.
  static const std::string name = lookUpHostDomainName();
  return name;
}

std::string addressLiteral(int socketFd) {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (getsockname(socketFd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (local.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&local);
    if (!inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text)) return {};
    return "[" + std::string(text) + "]";
  }
  if (local.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&local);
    if (!inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) return {};
    return "[IPv6:" + std::string(text) + "]";
  }
  return {};
}

std::string domainOf(std::string_view address) {
  size_t close = address.rfind('>');
  if (close != std::string_view::npos) address = address.substr(0, close);
  size_t at = address.rfind('@');
  if (at == std::string_view::npos) return {};
  std::string domain = toLower(trimBlanks(address.substr(at + 1)));
  return isDomain(domain) ? domain : std::string();
}

}  // namespace postrix::smtp
