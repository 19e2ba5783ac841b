// Host name and IPv4 address lookup, and IPv4 addresses as text, for the socket functions. Kept
// apart from winsock2.h, whose names and records the system's own socket headers also define.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#define PLATFORM_HIDDEN __attribute__((visibility("hidden")))

enum class HostLookup { kFound, kHostNotFound, kNoAddress };

// The host's name; false when the kernel has none to give.
PLATFORM_HIDDEN bool host_name(std::string* name);

// The IPv4 addresses of a host name, 4 bytes each in network order, in the resolver's order.
PLATFORM_HIDDEN HostLookup resolve_ipv4(const char* name, std::vector<uint32_t>* addresses);

// The dotted text of an IPv4 address (4 bytes in network order) into text, size chars with the
// terminating zero; false when it does not fit.
PLATFORM_HIDDEN bool os_address_text(const void* address, char* text, size_t size);

// The 4 bytes in network order of the dotted text of an IPv4 address; false when the text is no
// such address.
PLATFORM_HIDDEN bool os_address_of_text(const char* text, void* address);
