#include "Platform/Linux/AvahiServiceAdvertiser.hpp"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

#include "Runtime/Logger.hpp"

namespace quib {

namespace {

constexpr std::size_t maxServiceNameBytes = 63;
constexpr std::size_t maxTxtEntryBytes = 255;

struct StringListFree {
    void operator()(AvahiStringList* list) const { avahi_string_list_free(list); }
};
using StringList = std::unique_ptr<AvahiStringList, StringListFree>;

// Builds the TXT list in the given order (avahi_string_list_add prepends, so add from the back).
StringList makeTxt(const TxtRecord& txt) {
    AvahiStringList* list = nullptr;
    for (auto entry = txt.rbegin(); entry != txt.rend(); ++entry) {
        std::string item = AvahiServiceAdvertiser::fitUtf8(entry->first + "=" + entry->second, maxTxtEntryBytes);
        list = avahi_string_list_add(list, item.c_str());
    }
    return StringList(list);
}

std::string alternativeName(const std::string& name) {
    char* next = avahi_alternative_service_name(name.c_str());
    std::string result = next ? next : name + " #2";
    avahi_free(next);
    return AvahiServiceAdvertiser::fitUtf8(std::move(result), maxServiceNameBytes);
}

}  // namespace

// Everything below is touched with the threaded poll's lock held: callbacks run on the poll
// thread, which holds it; public operations take it.
struct AvahiServiceAdvertiser::State {
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    bool running = false;          // the client is connected to a running daemon
    bool reportedMissing = false;  // the "no daemon" line was written for this outage

    struct Wanted {
        std::string name;  // the name in use, renamed on collision
        std::uint16_t port = 0;
        TxtRecord txt;
    };
    std::optional<Wanted> wanted;
    std::optional<std::string> registered;

    void connect();
    void reportMissing(const char* why);
    void publish();
    void onClient(AvahiClient* c, AvahiClientState clientState);
    void onGroup(AvahiEntryGroup* g, AvahiEntryGroupState groupState);

    static void clientCallback(AvahiClient* c, AvahiClientState s, void* self) {
        static_cast<State*>(self)->onClient(c, s);
    }
    static void groupCallback(AvahiEntryGroup* g, AvahiEntryGroupState s, void* self) {
        static_cast<State*>(self)->onGroup(g, s);
    }
};

void AvahiServiceAdvertiser::State::reportMissing(const char* why) {
    if (reportedMissing) return;
    reportedMissing = true;
    quibLog().warning("service advertisement unavailable (", pub(std::string(why)), "); the host goes on without it");
}

// Makes a client that waits for the daemon to appear instead of failing when it is absent.
void AvahiServiceAdvertiser::State::connect() {
    int error = 0;
    AvahiClient* made =
        avahi_client_new(avahi_threaded_poll_get(poll), AVAHI_CLIENT_NO_FAIL, &State::clientCallback, this, &error);
    if (!made) {
        client = nullptr;
        reportMissing(avahi_strerror(error));
        return;
    }
    client = made;
}

void AvahiServiceAdvertiser::State::onClient(AvahiClient* c, AvahiClientState clientState) {
    client = c;  // the callback may run inside avahi_client_new, before it has returned
    switch (clientState) {
        case AVAHI_CLIENT_S_RUNNING:
            running = true;
            reportedMissing = false;
            publish();
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The host name changes or is being claimed: withdraw and publish again when running.
            registered.reset();
            if (group) avahi_entry_group_reset(group);
            break;
        case AVAHI_CLIENT_CONNECTING:
            running = false;
            reportMissing("no Avahi daemon");
            break;
        case AVAHI_CLIENT_FAILURE:
            running = false;
            registered.reset();
            if (avahi_client_errno(c) == AVAHI_ERR_DISCONNECTED) {
                // The daemon went away: start over with a client that waits for it to come back.
                avahi_client_free(c);
                client = nullptr;
                group = nullptr;  // freed with its client
                connect();
            } else {
                reportMissing(avahi_strerror(avahi_client_errno(c)));
            }
            break;
    }
}

void AvahiServiceAdvertiser::State::onGroup(AvahiEntryGroup* g, AvahiEntryGroupState groupState) {
    if (g != group || !wanted) return;
    switch (groupState) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            registered = wanted->name;
            quibLog().info("advertising \"", pub(wanted->name), "\" on port ", wanted->port);
            break;
        case AVAHI_ENTRY_GROUP_COLLISION: {
            std::string next = alternativeName(wanted->name);
            quibLog().info("service name \"", pub(wanted->name), "\" is taken; advertising as \"", pub(next), "\"");
            wanted->name = std::move(next);
            registered.reset();
            publish();
            break;
        }
        case AVAHI_ENTRY_GROUP_FAILURE:
            registered.reset();
            quibLog().error("service advertisement failed: ",
                            pub(std::string(avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(g))))));
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING: break;
    }
}

// (Re)registers the wanted service; does nothing until the daemon runs.
void AvahiServiceAdvertiser::State::publish() {
    if (!wanted || !client || !running) return;
    if (!group) {
        group = avahi_entry_group_new(client, &State::groupCallback, this);
        if (!group) {
            quibLog().error("service advertisement failed: ",
                            pub(std::string(avahi_strerror(avahi_client_errno(client)))));
            return;
        }
    }
    avahi_entry_group_reset(group);
    registered.reset();
    StringList txt = makeTxt(wanted->txt);
    for (int attempt = 0; attempt < 16; ++attempt) {
        int result = avahi_entry_group_add_service_strlst(
            group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), wanted->name.c_str(),
            std::string(QuibProtocol::bonjourType).c_str(), nullptr, nullptr, wanted->port, txt.get());
        if (result == AVAHI_ERR_COLLISION) {
            wanted->name = alternativeName(wanted->name);
            continue;
        }
        if (result >= 0) result = avahi_entry_group_commit(group);
        if (result < 0) quibLog().error("service advertisement failed: ", pub(std::string(avahi_strerror(result))));
        return;
    }
    quibLog().error("service advertisement failed: no free service name");
}

AvahiServiceAdvertiser::AvahiServiceAdvertiser() : state_(std::make_unique<State>()) {
    state_->poll = avahi_threaded_poll_new();
    if (!state_->poll) {
        state_->reportMissing("no Avahi poll thread");
        return;
    }
    state_->connect();  // callbacks run on this thread until the poll thread starts
    if (avahi_threaded_poll_start(state_->poll) < 0) {
        state_->reportMissing("no Avahi poll thread");
        if (state_->client) avahi_client_free(state_->client);
        state_->client = nullptr;
        avahi_threaded_poll_free(state_->poll);
        state_->poll = nullptr;
    }
}

AvahiServiceAdvertiser::~AvahiServiceAdvertiser() {
    if (!state_->poll) return;
    avahi_threaded_poll_stop(state_->poll);
    if (state_->client) avahi_client_free(state_->client);  // frees the entry group too
    avahi_threaded_poll_free(state_->poll);
}

void AvahiServiceAdvertiser::advertise(const std::string& name, std::uint16_t port, const TxtRecord& txt) {
    if (!state_->poll) return;
    avahi_threaded_poll_lock(state_->poll);
    state_->wanted = State::Wanted{fitUtf8(name, maxServiceNameBytes), port, txt};
    if (!state_->client) state_->connect();
    state_->publish();
    avahi_threaded_poll_unlock(state_->poll);
}

void AvahiServiceAdvertiser::withdraw() {
    if (!state_->poll) return;
    avahi_threaded_poll_lock(state_->poll);
    state_->wanted.reset();
    state_->registered.reset();
    if (state_->group) avahi_entry_group_reset(state_->group);
    avahi_threaded_poll_unlock(state_->poll);
}

std::optional<std::string> AvahiServiceAdvertiser::registeredName() const {
    if (!state_->poll) return std::nullopt;
    avahi_threaded_poll_lock(state_->poll);
    std::optional<std::string> name = state_->registered;
    avahi_threaded_poll_unlock(state_->poll);
    return name;
}

std::string AvahiServiceAdvertiser::fitUtf8(std::string text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) so the cut falls before a lead byte.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

}  // namespace quib
