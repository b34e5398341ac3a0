#pragma once

#include <string>
#include <string_view>
#include <sys/socket.h>

namespace korvo::relayserver {

// An address in text form as the client has it: an IPv4-mapped IPv6 address (how a dual-stack
// listener on [::] sees an IPv4 client) becomes the IPv4 address; anything else is kept.
std::string unmappedAddress(std::string_view address);
// The text form of a socket address, unmapped.
std::string addressText(const sockaddr* address);

// The key under which every limit counts the client at `address` (text): an IPv4 address as it
// is, also when it comes IPv4-mapped; an IPv6 address as its /64, since one subscriber commonly
// holds a whole /64; anything else as given. The one function every limit uses.
std::string clientKey(std::string_view address);
// The network the client at `address` belongs to, for the pairing-claim limit: an IPv4 /24
// (also IPv4-mapped), an IPv6 /64, anything else as given. One holder of a few neighbouring
// addresses is one client there.
std::string networkKey(std::string_view address);

} // namespace korvo::relayserver
