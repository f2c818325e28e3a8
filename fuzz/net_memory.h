// An in-memory POP3 peer behind the socket layer, for the fuzz targets: it answers from a byte
// string and records what the client sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct MemoryPeer {
    std::vector<std::pair<std::string, int>> pieces;  // one per receive: data, or without it a NetStatus
    size_t next = 0;
    bool connectFails = false;
    int failSendAt = -1;            // the send (counted from 0) that fails, or -1
    std::vector<std::string> sent;  // every command, one string per send
};

extern MemoryPeer Peer;

// Cuts input into pieces: each starts with a length byte; 0 stands for a time-out, 255 for a
// closed connection, anything else for that many data bytes (fewer at the end of the input).
void LoadPeer(const uint8_t *data, size_t size);
