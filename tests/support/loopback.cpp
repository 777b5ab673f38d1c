#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

LoopbackListener::LoopbackListener()
{
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (!socket || ::bind(socket.get(), reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        ::listen(socket.get(), 16) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_socket = std::move(socket);
}

bool LoopbackListener::connected()
{
    while (m_socket) {
        const UniqueFd peer(::accept4(m_socket.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!peer)
            break;
        m_connected = true;
    }
    return m_connected;
}
