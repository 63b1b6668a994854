// The C exports: each creates the engine when needed and calls one engine
// operation. No exception leaves this file.
#include <cstring>
#include <new>

#include "engine.h"

namespace kuvo {
namespace {

UdpEngine* engineInstance = nullptr;

// Destroys a live engine when the library is unloaded (or the process ends).
struct LibraryLifetime {
    ~LibraryLifetime() { destroyEngine(); }
} libraryLifetime;

// Builds a send destination from the caller's address text and port. Senders
// mostly repeat one address, so the last text converted is remembered.
bool destination(const char* ip, int port, Endpoint& to) {
    thread_local char lastText[64] = {};
    thread_local uint8_t lastAddress[16] = {};
    std::memset(&to, 0, sizeof to);
    to.port = uint16_t(unsigned(port) & 0xFFFFu);
    if (ip == nullptr) return false;
    if (lastText[0] != 0 && std::strncmp(ip, lastText, sizeof lastText) == 0) {
        std::memcpy(to.address, lastAddress, sizeof lastAddress);
        return true;
    }
    if (!parseAddressText(ip, to.address)) return false;
    if (std::strlen(ip) < sizeof lastText) {
        std::strcpy(lastText, ip);
        std::memcpy(lastAddress, to.address, sizeof lastAddress);
    }
    return true;
}

}  // namespace

UdpEngine* ensureEngine() {
    if (engineInstance == nullptr) engineInstance = new (std::nothrow) UdpEngine;
    if (engineInstance == nullptr) platform::setLastError(platform::kErrorNoMemory);
    return engineInstance;
}

UdpEngine* currentEngine() { return engineInstance; }

void destroyEngine() {
    UdpEngine* e = engineInstance;
    engineInstance = nullptr;
    delete e;
}

}  // namespace kuvo

using namespace kuvo;

extern "C" {

KUVO_API uint64_t Kuvoinit(uint16_t port) {
    try {
        Endpoint local;
        std::memset(&local, 0, sizeof local);
        parseAddressText("0:0:0:0:0:0:0:0", local.address);
        local.port = port;
        UdpEngine* e = ensureEngine();
        return e ? e->openSocket(local) : invalidSocket;
    } catch (...) {
        platform::setLastError(platform::kErrorNoMemory);
        return invalidSocket;
    }
}

KUVO_API int Kuvoclose(uint64_t socketHandle) {
    try {
        UdpEngine* e = ensureEngine();
        return e && e->closeSocket(socketHandle) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

KUVO_API int KuvoclosePort(int port) {
    try {
        UdpEngine* e = ensureEngine();
        return e && e->closePort(port) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

KUVO_API int KuvocloseALL(void) {
    try {
        UdpEngine* e = ensureEngine();
        return e && e->closeAll() ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

KUVO_API int KuvosendBytes(uint64_t socketHandle, const char* ip, int port, const char* data, int length) {
    try {
        Endpoint to;
        bool known = destination(ip, port, to);
        UdpEngine* e = ensureEngine();
        if (e == nullptr) return -1;
        // No send to an address that is no numeric address.
        if (!known || length < 0 || (data == nullptr && length > 0)) {
            platform::setLastError(platform::kErrorInvalid);
            return -1;
        }
        return e->sendMessage(socketHandle, to, reinterpret_cast<const uint8_t*>(data), length);
    } catch (...) {
        return -1;
    }
}

KUVO_API int Kuvosend(uint64_t socketHandle, const char* ip, int port, const char* text) {
    size_t length = text ? std::strlen(text) : 0;
    if (length > size_t(INT32_MAX)) return -1;
    return KuvosendBytes(socketHandle, ip, port, text, int(length));
}

KUVO_API bool Kuvorecv(uint64_t socketHandle, uint64_t count, DataCallback onData, AddressCallback onAddress,
                       PortCallback onPort, void* userValue) {
    try {
        UdpEngine* e = ensureEngine();
        return e != nullptr && e->receiveMessages(socketHandle, count, onData, onAddress, onPort, userValue);
    } catch (...) {
        return false;
    }
}

KUVO_API int lastSocketError(void) { return platform::lastError(); }

KUVO_API void releaseUDP(void) { destroyEngine(); }

}  // extern "C"
