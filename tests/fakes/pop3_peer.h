// The server side of one POP3 session, played in-process: it answers each
// command corvina hands to net_send, through pop_receive, the way a real
// server would. Tests use it to run whole checks without a socket.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct PeerMessage {
    std::string uid;
    int64_t size;
};

struct Pop3Peer {
    std::string greeting = "+OK ready <1.2@test>\r\n";
    std::vector<PeerMessage> messages;
    std::string refuse; // a command verb ("PASS", "LIST", ...) answered with -ERR
};

// Plays a session from the greeting until QUIT is answered or the session
// fails. Returns true when QUIT was answered.
bool pop3_peer_serve(const Pop3Peer& peer);
