#pragma once
// The addresses a host from the command line stands for, in the order a
// connect tries them.

#include <string>
#include <vector>

#include "net/platform.h"

// The addresses of Host, IPv4 ones first and each family in the resolver's
// order: a dotted IPv4 address as it stands, without a look-up (except
// 255.255.255.255, which the dotted reader cannot tell from a failure and
// leaves to the resolver); an IPv6 address, bare or in brackets ("::1",
// "[::1]"; brackets around anything else fail as an unknown name); otherwise
// every address the resolver has for the name. An
// IPv4-mapped IPv6 address counts as the IPv4 address it carries. False, with
// the resolver's failure, when there is none.
bool ResolveHost(const std::string& Host, std::vector<netplatform::Address>& Addresses,
                 netplatform::ResolveFailure& Failure);

// Address and port as messages write them: "192.0.2.7:5222", and an IPv6
// address in its shortest form in brackets, "[2001:db8::7]:5222".
std::string EndpointText(const netplatform::Address& Address, std::uint16_t Port);
