// The names this machine gives itself in mail: the EHLO greeting and the
// right-hand side of a Message-ID. Both should be a domain a receiver can
// look up, not a bare host name such as "vm".
#pragma once

#include <string>       // names
#include <string_view>  // addresses

namespace postrix::smtp {

// The host's full domain name (gethostname() resolved to its canonical
// name), lower case; "" when neither holds a dot. Looked up on the first
// call and kept for the life of the process.
std::string hostDomainName();

// An address literal for the local end of a connected socket, "[127.0.0.1]"
// or "[IPv6:::1]"; "" when the socket has no address.
std::string addressLiteral(int socketFd);

// The domain of an address such as "Name <user@example.com>"; "" without one.
std::string domainOf(std::string_view address);

}  // namespace postrix::smtp
