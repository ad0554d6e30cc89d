#include "server/remote_session.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "framework/driver_error.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/poll_wait.h"
#include "platform/text.h"

namespace server {

using framework::TRemoteRequestHeader;

namespace {

const char* const kRule = "/---------------------------------------/";

// Local date and time as the log shows them: 09.12.2026 07:45:03.
std::string DateTimeText(platform::TDateTime t) {
    int year, month, day, hour, minute, second, ms;
    platform::DecodeDate(t, year, month, day);
    platform::DecodeTime(t, hour, minute, second, ms);
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", day, month, year, hour, minute, second);
    return text;
}

} // namespace

int32_t ReadRemoteRequest(platform::TTcpPeer& peer, int32_t timeoutMs, std::string& stream,
                          TRemoteRequestHeader& header) {
    stream.clear();
    auto* buffer = dynamic_cast<TRemoteRequestBuffer*>(peer.Data.get());
    if (buffer == nullptr) return framework::kRemoteBadRequest;
    std::string text = std::move(buffer->Leftover);
    buffer->Leftover.clear();
    const uint64_t deadline = platform::MonotonicMs() + static_cast<uint64_t>(std::max(timeoutMs, 0));
    int32_t needed = 0;
    for (;;) {
        // The header's check bounds the payload length: a client cannot make us wait for, or keep,
        // more than the longest request. A request left over from the last read needs no wait.
        needed = framework::ParseRemoteRequestHeader(text, header);
        if (needed == framework::kRemoteBadRequest) return framework::kRemoteBadRequest;
        if (needed > 0 && text.size() >= static_cast<std::size_t>(needed)) break;
        needed = 0;
        const int left = platform::MsUntil(deadline);
        if (left == 0) break;
        if (!peer.Connected()) return framework::kRemoteBadRequest;
        // Each wait is bounded by what is left of the whole read, so that a client trickling bytes
        // cannot hold the session beyond it.
        try {
            peer.ReceiveWithTimeout(peer.ReadTimeout > 0 ? std::min(peer.ReadTimeout, left) : left);
            text += peer.TakeInput();
        } catch (const std::exception&) {
            return kRemoteReadFailed;
        }
    }
    if (!peer.Connected()) return framework::kRemoteBadRequest;
    if (needed == 0) return kRemoteReadFailed;
    buffer->Leftover = text.substr(static_cast<std::size_t>(needed));
    text.resize(static_cast<std::size_t>(needed));
    stream = std::move(text);
    return needed;
}

void ReceiveRemoteRequest(platform::TTcpPeer& peer, std::string* stream, TRemoteRequestHeader& header,
                          std::string& errorText) {
    errorText = platform::Cp("Общая незарегистрированная ошибка драйвера.");
    if (stream == nullptr) return;
    const int32_t n = ReadRemoteRequest(peer, TRemoteSession::kRequestTimeoutMs, *stream, header);
    if (n > 0) {
        if (header.HeaderSize == framework::kRemoteHeaderSize && header.Magic[0] == 'K' &&
            header.Magic[1] == 'V')
            errorText.clear();
        return;
    }
    errorText = platform::Cp("Ошибка при чтении данных TCP/IP. Код=") + platform::IntToStr(n);
}

TRemoteSession::TRemoteSession(framework::TTerminalDataClass& log, std::atomic<bool>& busy,
                               std::function<framework::TThreadsList*()> threads)
    : log_(log), busy_(busy), threads_(std::move(threads)) {}

void TRemoteSession::Attach(platform::TTcpServer& server) {
    server.OnConnect = [this](platform::TTcpPeer& p) { OnRemoteConnect(p); };
    server.OnExecute = [this](platform::TTcpPeer& p) { OnRemoteExecute(p); };
    server.OnDisconnect = [this](platform::TTcpPeer& p) { OnRemoteDisconnect(p); };
    server.OnException = [this](platform::TTcpPeer& p, const std::exception& e) { OnRemoteException(p, e); };
    server.OnListenException = [this](const std::exception& e) { OnRemoteListenException(e); };
}

void TRemoteSession::AddLog(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    log_.AddLine(line);
}

void TRemoteSession::OnRemoteConnect(platform::TTcpPeer&) {
    // A connection that will only be told that the server is busy must not wipe the log of the
    // session that runs: that log is the running session's reply.
    std::lock_guard<std::mutex> guard(lock_);
    if (busy_.load()) return;
    log_.Clear();
    owner_ = 0; // a session that ended and has yet to disconnect no longer owns the log
}

void TRemoteSession::OnRemoteExecute(platform::TTcpPeer& peer) {
    bool mine;
    {
        std::lock_guard<std::mutex> guard(lock_);
        // Test-and-set: two connections can never both start a session.
        mine = !busy_.exchange(true);
        if (mine) owner_ = peer.Id();
    }
    if (mine)
        RunSession(peer);
    else
        AnswerBusy(peer);
}

void TRemoteSession::AnswerBusy(platform::TTcpPeer& peer) {
    try {
        peer.Data = std::make_unique<TRemoteRequestBuffer>();
        std::string stream;
        TRemoteRequestHeader header = framework::NewRemoteRequestHeader();
        std::string errorText;
        ReceiveRemoteRequest(peer, &stream, header, errorText);
        if (errorText.empty()) {
            header.Status = framework::kRemoteBusy;
            header.ReplyFlag = 1;
            const std::string body = "Server busy!!!";
            TSessionPeer reply(peer);
            framework::SendRemoteReply(&reply, header, &body, errorText);
        }
    } catch (...) {
        // The busy answer is a courtesy: whatever fails, the connection just ends.
    }
    peer.StopAfterPass();
    peer.Disconnect();
    peer.Data.reset();
}

void TRemoteSession::RunSession(platform::TTcpPeer& peer) {
    bool replyNeeded = false;
    std::string stream;
    TRemoteRequestHeader header = framework::NewRemoteRequestHeader();
    framework::TThreadsList* threads = nullptr;
    bool parked = false; // the addressed device's thread is parked by this session
    try {
        LogPeerParams(peer);
        peer.Data = std::make_unique<TRemoteRequestBuffer>();
        peer.MaxLineLength = kLongestLine;
        peer.OpenWriteBuffer(kWriteBuffer);
        peer.ReadTimeout = kRequestTimeoutMs;

        std::string errorText;
        ReceiveRemoteRequest(peer, &stream, header, errorText);
        if (!errorText.empty()) {
            AddLog(errorText);
            replyNeeded = true;
        } else {
            ServeRequest(peer, header, stream, threads, parked, replyNeeded);
        }
    } catch (...) {
        // The session ends here; what it has logged so far is its answer, if one is owed.
    }
    // Whatever happened, a device parked for the request polls again.
    if (parked) {
        try {
            threads->LockDevice(header.Domain.Get(), header.DeviceAddress, false);
        } catch (...) {
        }
    }
    if (replyNeeded) ReplyWithLog(peer, header);
    EndSession(peer);
}

void TRemoteSession::LogPeerParams(platform::TTcpPeer& peer) {
    std::lock_guard<std::mutex> guard(lock_);
    log_.AddLine("/------ Client and Server params -------/");
    log_.AddLine("Connection time: " + DateTimeText(platform::Now()));
    log_.AddLine("Remote client address: " + peer.PeerIP());
    log_.AddLine("Remote client port: " + platform::IntToStr(peer.PeerPort()));
    log_.AddLine("Server address: " + peer.BindingIP());
    log_.AddLine("Server port: " + platform::IntToStr(peer.BindingPort()));
    log_.AddLine(kRule);
}

// Hands the request to the device threads, the addressed device parked meanwhile. parked and
// replyNeeded hold what was reached when something raises.
void TRemoteSession::ServeRequest(platform::TTcpPeer& peer, TRemoteRequestHeader& header, std::string& stream,
                                  framework::TThreadsList*& threads, bool& parked, bool& replyNeeded) {
    const std::string notFound = platform::Cp("Устройство не найдено или недоступно.");
    const std::string domain = header.Domain.Get();
    {
        std::lock_guard<std::mutex> guard(lock_);
        log_.AddLine("/----------- Device params -------------/");
        log_.AddLine("Domen name: " + domain);
        log_.AddLine("Device address: " + platform::IntToStr(header.DeviceAddress));
        log_.AddLine("Request code: " + platform::IntToStr(header.RequestCode));
        log_.AddLine(kRule);
    }
    threads = threads_ ? threads_() : nullptr;
    if (header.DeviceAddress > 0 &&
        (threads == nullptr || !threads->LockDevice(domain, header.DeviceAddress, true))) {
        AddLog(notFound);
        replyNeeded = true;
    } else if (threads != nullptr) {
        parked = header.DeviceAddress > 0;
        TSessionPeer remote(peer);
        std::string errorText;
        threads->DoExternalRequest(&remote, header, errorText, &log_, &stream);
        if (!errorText.empty() && peer.Connected()) {
            AddLog(errorText);
            replyNeeded = true;
        }
        if (parked) {
            parked = false;
            if (!threads->LockDevice(domain, header.DeviceAddress, false)) {
                AddLog(notFound);
                replyNeeded = true;
            }
        }
    } else {
        // A service request without device threads: nobody can answer it.
        AddLog(notFound);
        replyNeeded = true;
    }
}

// The session's log is its reply when the request failed.
void TRemoteSession::ReplyWithLog(platform::TTcpPeer& peer, TRemoteRequestHeader& header) {
    try {
        if (peer.Connected()) {
            if (header.Status == framework::kRemoteOk) header.Status = framework::kRemoteFailed;
            const std::string body = log_.GetText();
            std::string replyError;
            TSessionPeer remote(peer);
            framework::SendRemoteReply(&remote, header, &body, replyError);
        }
    } catch (...) {
    }
}

void TRemoteSession::EndSession(platform::TTcpPeer& peer) {
    platform::ProcessMessages();
    // The connection is held a while so that the client has read the reply before it closes; a
    // server that stops ends the wait.
    platform::WaitDispatching([&peer] { return peer.StopRequested(); }, LingerMs);
    peer.Data.reset();
    {
        std::lock_guard<std::mutex> guard(lock_);
        log_.AddLine(kRule);
        busy_.store(false);
    }
    peer.StopAfterPass();
}

void TRemoteSession::OnRemoteDisconnect(platform::TTcpPeer& peer) {
    peer.StopAfterPass();
    peer.Disconnect();
    std::lock_guard<std::mutex> guard(lock_);
    // Only the connection whose session the log holds writes its end there.
    if (owner_ != peer.Id()) return;
    owner_ = 0;
    log_.AddLine("Disconnecting...");
    log_.AddLine("Disconnected");
    log_.AddLine("Disconnection time: " + DateTimeText(platform::Now()));
    log_.AddLine(kRule);
}

void TRemoteSession::OnRemoteException(platform::TTcpPeer& peer, const std::exception& e) {
    framework::Report(framework::kErrReported, "Remote access exception: " + std::string(e.what()));
    peer.Disconnect();
}

void TRemoteSession::OnRemoteListenException(const std::exception& e) {
    framework::Report(framework::kErrReported, "Remote listen exception: " + std::string(e.what()));
}

} // namespace server
