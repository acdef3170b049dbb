#include "tests/fakes/pop3_peer.h"

#include "pop3/receiver.h"
#include "pop3/session.h"
#include "tests/fakes/fakes.h"

static std::string reply_to(const Pop3Peer& peer, const std::string& command)
{
    std::string verb = command.substr(0, command.find_first_of(" \r"));
    if (verb == peer.refuse)
        return "-ERR " + verb + " refused\r\n";
    if (verb == "STAT") {
        uint64_t total = 0; // sizes may be any a server could claim: wrap, do not overflow
        for (const PeerMessage& message : peer.messages)
            total += (uint64_t)message.size;
        return "+OK " + std::to_string(peer.messages.size()) + " " + std::to_string(total) + "\r\n";
    }
    if (verb == "LIST" || verb == "UIDL") {
        std::string reply = "+OK\r\n";
        for (size_t i = 0; i < peer.messages.size(); i++) {
            const PeerMessage& message = peer.messages[i];
            reply += std::to_string(i + 1) + " " +
                     (verb == "LIST" ? std::to_string(message.size) : message.uid) + "\r\n";
        }
        return reply + ".\r\n";
    }
    if (verb == "QUIT")
        return "+OK bye\r\n";
    return "+OK\r\n";
}

bool pop3_peer_serve(const Pop3Peer& peer)
{
    size_t answered = fake.sent.size();
    std::string reply = peer.greeting;
    for (;;) {
        pop_receive(reply.data(), (int)reply.size());
        if (session.error_kind != ERROR_NONE || fake.sent.size() == answered)
            return false;
        size_t end = fake.sent.find("\r\n", answered);
        std::string command = fake.sent.substr(answered, end + 2 - answered);
        answered = end + 2;
        reply = reply_to(peer, command);
        if (command == "QUIT\r\n") {
            pop_receive(reply.data(), (int)reply.size());
            return session.error_kind == ERROR_NONE;
        }
    }
}
