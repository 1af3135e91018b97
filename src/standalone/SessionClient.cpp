#include "standalone/SessionClient.h"

#include <lo/lo.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <variant>

namespace veltrosa::standaloneedge {

namespace {

// The API version the program was written to.
constexpr int kApiMajor = 1;
constexpr int kApiMinor = 1;

// liblo's own reports (a packet that is no OSC, a socket error) would come
// in its words on several lines; one of ours says enough.
void loError(int number, const char* message, const char*) {
    std::fprintf(stderr, "veltrosa: session: OSC error %d: %s\n", number, message != nullptr ? message : "");
}

// OSC aligns arguments to 4 bytes only, less than lo_arg is: read as bytes.
std::string text(const std::string& types, lo_arg** argv, std::size_t index) {
    return index < types.size() && types[index] == LO_STRING ? std::string(reinterpret_cast<const char*>(argv[index]))
                                                             : std::string();
}

int32_t number(lo_arg* argument) {
    int32_t value = 0;
    std::memcpy(&value, argument, sizeof value);
    return value;
}

using Argument = std::variant<std::string, int>;

bool sendFrom(lo_address to, lo_server from, const char* path, std::initializer_list<Argument> arguments) {
    lo_message message = lo_message_new();
    if (message == nullptr)
        return false;
    for (const Argument& argument : arguments) {
        if (const auto* s = std::get_if<std::string>(&argument))
            lo_message_add_string(message, s->c_str());
        else
            lo_message_add_int32(message, std::get<int>(argument));
    }
    const bool sent = lo_send_message_from(to, from, path, message) >= 0;
    lo_message_free(message);
    return sent;
}

}  // namespace

struct SessionClient::Lo {
    lo_address server = nullptr;
    lo_server socket = nullptr;
    bool unreachable = false;  // said once
};

SessionClient::~SessionClient() {
    if (lo_ == nullptr)
        return;
    if (lo_->socket != nullptr)
        lo_server_free(lo_->socket);
    if (lo_->server != nullptr)
        lo_address_free(lo_->server);
    delete lo_;
}

bool SessionClient::announce(const std::string& url, const std::string& capabilities, const std::string& executable,
                             std::chrono::milliseconds limit, std::string& error) {
    lo_ = new Lo;
    const int protocol = lo_url_get_protocol_id(url.c_str());
    lo_->server = protocol == LO_UDP || protocol == LO_TCP ? lo_address_new_from_url(url.c_str()) : nullptr;
    if (lo_->server == nullptr) {
        error = "NSM_URL " + url + " is no OSC address";
        return false;
    }
    lo_->socket = lo_server_new_with_proto(nullptr, protocol, loError);
    if (lo_->socket == nullptr) {
        error = "cannot open a socket for the session manager";
        return false;
    }
    lo_server_add_method(lo_->socket, nullptr, nullptr, &SessionClient::onMessage, this);
    if (!sendFrom(lo_->server, lo_->socket, "/nsm/server/announce",
                  {"veltrosa", capabilities, executable, kApiMajor, kApiMinor, static_cast<int>(getpid())})) {
        error = "cannot reach the session manager at " + url + ": " + lo_address_errstr(lo_->server);
        return false;
    }
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!welcomed_ && refused_.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            error = "no answer from the session manager at " + url + " in " +
                    std::to_string(limit.count() / 1000) + " s";
            return false;
        }
        lo_server_recv_noblock(lo_->socket, static_cast<int>(left.count()));
    }
    if (!welcomed_) {
        error = "the session manager refused veltrosa: " + refused_;
        return false;
    }
    return true;
}

std::vector<SessionClient::Request> SessionClient::take(std::chrono::milliseconds wait) {
    if (lo_ == nullptr || lo_->socket == nullptr)
        return {};
    // One message at a time, each answered before the next is read; a burst
    // is read in one turn.
    int timeout = static_cast<int>(wait.count());
    while (lo_server_recv_noblock(lo_->socket, timeout) > 0)
        timeout = 0;
    return std::exchange(requests_, {});
}

int SessionClient::onMessage(const char* path, const char* types, lo_arg** argv, int, lo_message message,
                             void* self) noexcept {
    try {
        static_cast<SessionClient*>(self)->handle(path != nullptr ? path : "", types != nullptr ? types : "", argv,
                                                  message);
    } catch (...) {
        // Out of memory for a string: the message is lost, not the program.
    }
    return 0;
}

void SessionClient::handle(const std::string& path, const std::string& types, lo_arg** argv, lo_message message) {
    // Another program on the machine may not act as the server.
    const char* ours = lo_address_get_port(lo_->server);
    const lo_address source = lo_message_get_source(message);
    const char* theirs = source != nullptr ? lo_address_get_port(source) : nullptr;
    if (lo_address_get_protocol(lo_->server) == LO_UDP &&
        (ours == nullptr || theirs == nullptr || std::strcmp(ours, theirs) != 0)) {
        say_("session: ignoring " + path + " from another sender than the session manager");
        return;
    }
    if (path == "/reply" && types.starts_with("s") && text(types, argv, 0) == "/nsm/server/announce") {
        welcomed_ = true;
    } else if (path == "/error" && types.starts_with("sis") &&
               text(types, argv, 0) == "/nsm/server/announce") {
        refused_ = text(types, argv, 2) + " (error " + std::to_string(number(argv[1])) + ")";
    } else if (path == "/nsm/client/open") {
        if (!welcomed_)
            fail("/nsm/client/open", kNotNow, "veltrosa was not welcomed to a session yet");
        else if (opened_)
            fail("/nsm/client/open", kGeneral, "veltrosa opens one session in a run; restart it for another");
        else if (types != "sss")
            fail("/nsm/client/open", kGeneral, "open takes three strings: path, session name, client ID; got '" +
                                                   types + "'");
        else if (text(types, argv, 0).empty() || text(types, argv, 2).empty())
            fail("/nsm/client/open", kGeneral, "open needs a path and a client ID");
        else {
            opened_ = true;
            requests_.push_back({Kind::Open, text(types, argv, 0), text(types, argv, 1),
                                 text(types, argv, 2)});
        }
    } else if (path == "/nsm/client/save") {
        if (!opened_)
            fail("/nsm/client/save", kNotNow, "nothing is open to save yet");
        else
            requests_.push_back({Kind::Save, {}, {}, {}});
    } else if (path == "/nsm/client/show_optional_gui") {
        requests_.push_back({Kind::ShowGui, {}, {}, {}});
    } else if (path == "/nsm/client/hide_optional_gui") {
        requests_.push_back({Kind::HideGui, {}, {}, {}});
    } else if (path != "/nsm/client/session_is_loaded") {
        say_("session: ignoring the unexpected message " + path + (types.empty() ? "" : " " + types));
    }
}

void SessionClient::reply(const char* path, const std::string& message) {
    send("/reply", {path, message});
}

void SessionClient::fail(const char* path, int code, const std::string& message) {
    send("/error", {path, code, message});
}

void SessionClient::setDirty(bool dirty) {
    if (dirty_ == static_cast<int>(dirty))
        return;
    dirty_ = dirty;
    send(dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean", {});
}

void SessionClient::setGuiShown(bool shown) {
    send(shown ? "/nsm/client/gui_is_shown" : "/nsm/client/gui_is_hidden", {});
}

void SessionClient::send(const char* path, std::initializer_list<std::variant<std::string, int>> arguments) {
    if (lo_ == nullptr || lo_->socket == nullptr || sendFrom(lo_->server, lo_->socket, path, arguments))
        return;
    if (!std::exchange(lo_->unreachable, true))
        say_(std::string("session: cannot reach the session manager: ") + lo_address_errstr(lo_->server));
}

}  // namespace veltrosa::standaloneedge
