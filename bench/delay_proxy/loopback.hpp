#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

// The loopback address at `port` (0: a port the kernel picks).
inline sockaddr_in loopback(unsigned port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}
