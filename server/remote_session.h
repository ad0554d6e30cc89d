// Remote access: one request per connection, one session at a time. The session reads a request,
// parks the thread of the addressed device, lets the thread list carry the request out, releases the
// thread and, when something went wrong, answers with its log. The server window owns the session
// and its TCP server; the session runs on the server's peer threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "framework/remote_request.h"
#include "framework/terminal_data.h"
#include "framework/threads_list.h"
#include "platform/tcp_server.h"

namespace server {

// The bytes a session received beyond its current request.
class TRemoteRequestBuffer : public platform::TPeerData {
public:
    std::string Leftover;
};

// A session's connection as the framework's reply code sees it.
class TSessionPeer : public framework::TRemotePeer {
public:
    explicit TSessionPeer(platform::TTcpPeer& peer) : peer_(peer) {}
    bool Connected() override { return peer_.Connected(); }
    bool Write(std::string_view data) override { return peer_.Write(data); }
    bool FlushWriteBuffer() override { return peer_.FlushWriteBuffer(); }

private:
    platform::TTcpPeer& peer_;
};

constexpr int32_t kRemoteReadFailed = -101;

// Reads one request into stream (header and payload) within timeoutMs: its length, or
// kRemoteBadRequest (peer gone, no request buffer attached, header not valid) or kRemoteReadFailed
// (time-out, read error). Bytes beyond the request stay in the peer's request buffer.
int32_t ReadRemoteRequest(platform::TTcpPeer& peer, int32_t timeoutMs, std::string& stream,
                          framework::TRemoteRequestHeader& header);
// ReadRemoteRequest within 5000 ms; errorText empty on success, else the reason.
void ReceiveRemoteRequest(platform::TTcpPeer& peer, std::string* stream,
                          framework::TRemoteRequestHeader& header, std::string& errorText);

class TRemoteSession {
public:
    static constexpr int32_t kRequestTimeoutMs = 5000;
    static constexpr int32_t kLongestLine = 65000;
    static constexpr int32_t kWriteBuffer = 65000;

    // log and busy are the window's remote log and RemoteBusy; threads gives the thread list in use.
    TRemoteSession(framework::TTerminalDataClass& log, std::atomic<bool>& busy,
                   std::function<framework::TThreadsList*()> threads);

    // Points the server's handlers at this session, which must outlive the server's activity.
    void Attach(platform::TTcpServer& server);

    void OnRemoteConnect(platform::TTcpPeer& peer);
    void OnRemoteExecute(platform::TTcpPeer& peer);
    void OnRemoteDisconnect(platform::TTcpPeer& peer);
    void OnRemoteException(platform::TTcpPeer& peer, const std::exception& e);
    void OnRemoteListenException(const std::exception& e);

    // How long a session holds its connection after it is done, so that the client has the reply.
    uint32_t LingerMs = 3000;

private:
    void AnswerBusy(platform::TTcpPeer& peer);
    void RunSession(platform::TTcpPeer& peer);
    // The steps of a session.
    void LogPeerParams(platform::TTcpPeer& peer);
    void ServeRequest(platform::TTcpPeer& peer, framework::TRemoteRequestHeader& header, std::string& stream,
                      framework::TThreadsList*& threads, bool& parked, bool& replyNeeded);
    void ReplyWithLog(platform::TTcpPeer& peer, framework::TRemoteRequestHeader& header);
    void EndSession(platform::TTcpPeer& peer);
    void AddLog(const std::string& line);

    framework::TTerminalDataClass& log_;
    std::atomic<bool>& busy_;
    std::function<framework::TThreadsList*()> threads_;
    // Orders the log's clearing against the start of a session; the session's lines go under it.
    std::mutex lock_;
    uint64_t owner_ = 0; // the connection whose session the log holds, 0 for none
};

} // namespace server
