// The program as a client of a session manager (the Non/New Session
// Manager's published OSC protocol, API 1.1, as nsmd, RaySession and others
// speak it): announce, then the server's requests, answered from the socket
// the announce went out from, as the protocol wants.
//
// Requests with arguments of the wrong kind, or that cannot be answered now,
// are answered here with an error; anything else unexpected is reported in
// one line and otherwise ignored. Only messages from the server's port count.
//
// Threads: the main thread only; nothing here touches the audio thread.
#pragma once

#include <lo/lo_osc_types.h>
#include <lo/lo_types.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

namespace veltrosa::standaloneedge {

class SessionClient {
public:
    // The protocol's error codes the program answers with.
    enum Error : int { kGeneral = -1, kNotNow = -8, kBadProject = -9 };
    enum class Kind { Open, Save, ShowGui, HideGui };
    struct Request {
        Kind kind;
        // Open's: where the client keeps its files (a prefix), the session's
        // name, and the client's unique name.
        std::string path, sessionName, clientId;
    };
    using Say = std::function<void(const std::string&)>;

    explicit SessionClient(Say say) : say_(std::move(say)) {}
    ~SessionClient();
    SessionClient(const SessionClient&) = delete;
    SessionClient& operator=(const SessionClient&) = delete;

    // Announces the program to the server at url and waits up to limit for
    // its welcome. False, with the reason in one line, when url is no OSC
    // address, the server refused, or nothing answered.
    bool announce(const std::string& url, const std::string& capabilities, const std::string& executable,
                  std::chrono::milliseconds limit, std::string& error);
    // The requests received by now, in order of arrival; waits up to wait
    // for the first.
    std::vector<Request> take(std::chrono::milliseconds wait = std::chrono::milliseconds(0));

    void reply(const char* path, const std::string& message);
    void fail(const char* path, int code, const std::string& message);
    // Sent on a change (the first call always).
    void setDirty(bool dirty);
    // Sent every time: the answer to show and hide, and the window's news.
    void setGuiShown(bool shown);

private:
    struct Lo;
    static int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message message,
                         void* self) noexcept;
    void handle(const std::string& path, const std::string& types, lo_arg** argv, lo_message message);
    // A failed send is said once: the server is gone, most likely, and the
    // program plays on as it would without a session.
    void send(const char* path, std::initializer_list<std::variant<std::string, int>> arguments);

    Say say_;
    Lo* lo_ = nullptr;
    bool welcomed_ = false;
    std::string refused_;
    bool opened_ = false;
    int dirty_ = -1;  // unknown to the server until sent
    std::vector<Request> requests_;
};

}  // namespace veltrosa::standaloneedge
