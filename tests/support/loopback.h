#pragma once

#include "uniquefd.h"

// A TCP listener on 127.0.0.1, on a port of its own, for documents to point at: a
// connection made to it waits in its queue whether or not anyone accepts it.
class LoopbackListener
{
public:
    LoopbackListener();
    bool listening() const { return bool(m_socket); }
    int port() const { return m_port; }
    // Whether anything has connected since the listener began (takes what waits).
    bool connected();

private:
    UniqueFd m_socket;
    int m_port = 0;
    bool m_connected = false;
};
