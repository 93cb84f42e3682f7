#pragma once

// Outcome of the last data receive or command exchange.
enum class ErrorState : int
{
    NoError = 0,    // the last operation succeeded
    Timeout = 1,    // the wait for data or for an answer ran out
    NetError = 2,   // a socket failed, a datagram was empty or too long, or there is no socket
    ParseError = 3, // the received text did not follow its format
};
