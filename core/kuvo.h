/* Kuvo: the public C interface of the core library.
 *
 * One engine per process owns every socket. The first call of any function
 * below except lastSocketError and releaseUDP creates it; releaseUDP destroys
 * it with every socket and every queued message.
 *
 * Socket handles are 64-bit; all bits set is the invalid handle. Ports are in
 * host byte order. Address texts are numeric IPv4 ("10.0.0.7") or IPv6
 * ("fe80::1") texts; no name is resolved.
 */
#ifndef KUVO_H
#define KUVO_H

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(KUVO_BUILDING)
#    define KUVO_API __declspec(dllexport)
#  else
#    define KUVO_API __declspec(dllimport)
#  endif
#else
#  define KUVO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Callbacks of Kuvorecv, called once each per delivered message, in the order
 * address, port, data. `index` counts the messages of this call from 0;
 * `remaining` is the number taken by this call and not yet delivered, the
 * current one included. The texts and bytes stay valid during the call only;
 * message bytes are followed by one zero byte. Return false to stop. */
typedef bool (*DataCallback)(const char* data, uint32_t length, uint32_t index,
                             uint32_t remaining, void* userValue);
typedef bool (*AddressCallback)(const char* text, uint64_t length, uint32_t index,
                                uint32_t remaining, void* userValue);
typedef bool (*PortCallback)(uint16_t port, uint32_t index, uint32_t remaining,
                             void* userValue);

/* Opens a dual-stack UDP socket bound to `port` on every local address.
 * Returns its handle, or all bits set on failure (see lastSocketError). */
KUVO_API uint64_t Kuvoinit(uint16_t port);

/* Requests the close of one socket: 1 when the engine knew it, else 0. */
KUVO_API int Kuvoclose(uint64_t socketHandle);

/* Requests the close of the lowest-handle socket bound to `port`: 1 or 0. */
KUVO_API int KuvoclosePort(int port);

/* Requests the close of every socket: 0 when accepted, -1 when refused. */
KUVO_API int KuvocloseALL(void);

/* Sends a zero-terminated text as one message. Returns its length or -1. */
KUVO_API int Kuvosend(uint64_t socketHandle, const char* ip, int port, const char* text);

/* Sends `length` bytes as one message; longer than 1000 bytes it travels in
 * fragments. Returns `length`, or -1 when any part could not be sent. */
KUVO_API int KuvosendBytes(uint64_t socketHandle, const char* ip, int port,
                           const char* data, int length);

/* Delivers up to `count` queued messages of the socket, oldest first
 * (UINT64_MAX: all). True unless the first message was refused. */
KUVO_API bool Kuvorecv(uint64_t socketHandle, uint64_t count, DataCallback onData,
                       AddressCallback onAddress, PortCallback onPort, void* userValue);

/* The calling thread's last socket error code (Windows Sockets numbering). */
KUVO_API int lastSocketError(void);

/* Destroys the engine, if any: closes every socket, drops every message. */
KUVO_API void releaseUDP(void);

#ifdef __cplusplus
}
#endif

#endif /* KUVO_H */
