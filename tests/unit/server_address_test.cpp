// SERVER as the connection layer reads it: host, and the port after a colon
// or the security mode's own.
#include <gtest/gtest.h>

#include <string>

#include "pop3/server_address.h"
#include "settings/settings.h"

namespace
{

TEST(ServerAddress, HostAndPort)
{
    const std::string longest_host(58, 'h');
    const struct {
        std::string server;
        int32_t security;
        std::string host;
        int port;
    } rows[] = {
        {"pop.example.com", SECURITY_NONE, "pop.example.com", 110},
        {"pop.example.com", SECURITY_TLS, "pop.example.com", 995},
        {"pop.example.com", SECURITY_STLS, "pop.example.com", 110},
        {"pop.example.com:2110", SECURITY_TLS, "pop.example.com", 2110},
        {"127.0.0.1:995", SECURITY_NONE, "127.0.0.1", 995},
        {"host:1", SECURITY_NONE, "host", 1},
        // Not a port: the whole text is the name, which fails its lookup.
        {"host:0", SECURITY_NONE, "host:0", 110},
        {"host:65536", SECURITY_NONE, "host:65536", 110},
        {"host:99999999999", SECURITY_TLS, "host:99999999999", 995},
        {"host:99x", SECURITY_NONE, "host:99x", 110},
        {longest_host + ":65535", SECURITY_NONE, longest_host, 65535},
        // IPv6: bare, or in brackets with or without a port.
        {"::1", SECURITY_TLS, "::1", 995},
        {"2001:db8::1:995", SECURITY_NONE, "2001:db8::1:995", 110},
        {"[2001:db8::1]:995", SECURITY_NONE, "2001:db8::1", 995},
        {"[::1]", SECURITY_STLS, "::1", 110},
        {"[::1]:0", SECURITY_NONE, "[::1]:0", 110},
        {"[::1]x", SECURITY_NONE, "[::1]x", 110},
        {"[]", SECURITY_NONE, "[]", 110},
    };
    for (const auto& row : rows) {
        char host[NAME_CAPACITY] = "stale";
        int port =
            server_split(row.server.c_str(), server_default_port(row.security), host, sizeof host);
        EXPECT_EQ(row.host, host) << row.server;
        EXPECT_EQ(row.port, port) << row.server;
    }
}

// A host longer than its buffer is cut there, as every text is.
TEST(ServerAddress, HostCutAtItsCapacity)
{
    char host[5];
    for (const char* server : {"abcd:995", "abcde:995", "abcdef:995"}) {
        EXPECT_EQ(995, server_split(server, POP3_PORT, host, sizeof host)) << server;
        EXPECT_STREQ("abcd", host) << server;
    }
}

} // namespace
