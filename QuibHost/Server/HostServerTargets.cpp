// Targets managed from a phone: adding, editing, removing and ordering them, and the tmux panes
// a phone picks from. Pane addresses are resolved on the injection queue (it runs tmux); the
// target list changes on the main executor, which sends the replies. Work queued for later
// holds its client weakly: the list changes even when the phone has gone.

#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"

namespace quib {

namespace {

HostMessage toast(std::string text) { return HostMessage{HostMessage::Toast{std::move(text)}}; }
HostMessage error(std::string text) { return HostMessage{HostMessage::Error{std::move(text)}}; }

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// What a change of the list tells the phone: `done` as a toast, or, when the list could not be
// saved, as an error that says so: the change holds only until the host restarts.
HostMessage told(const TargetStoreService& store, const std::string& done) {
    if (auto why = store.saveFailure()) return error(done + ", but it couldn't be saved: " + *why);
    return toast(done);
}

}  // namespace

void HostServer::addTarget(QuibTarget target, const ClientPtr& client) {
    onInjection([target = std::move(target), to = ClientRef(client)](HostServer& server) mutable {
        auto resolved = server.neighbours_.targets->resolvingPane(std::move(target));
        server.onMain([resolved = std::move(resolved), to](HostServer& server) {
            const auto outcome = server.neighbours_.targets->add(resolved);
            if (const auto* refusal = outcome.refusal()) {
                server.reply(to, error(*refusal));
                return;
            }
            const std::string text = "Added " + outcome.target()->name;
            server.note(text);
            server.reply(to, told(*server.neighbours_.targets, text));
        });
    });
}

void HostServer::updateTarget(QuibTarget target, const ClientPtr& client) {
    onInjection([target = std::move(target), to = ClientRef(client)](HostServer& server) mutable {
        auto resolved = server.neighbours_.targets->resolvingPane(std::move(target));
        server.onMain([resolved = std::move(resolved), to](HostServer& server) {
            const auto outcome = server.neighbours_.targets->update(resolved);
            if (const auto* refusal = outcome.refusal()) {
                server.reply(to, error(*refusal));
                return;
            }
            server.note("Edited " + outcome.target()->name);
            server.reply(to, told(*server.neighbours_.targets, "Saved " + outcome.target()->name));
        });
    });
}

// Targets that pass are added even when others are refused; the phone hears of both. The whole
// batch is one change of the list, stored once.
void HostServer::addTargets(std::vector<QuibTarget> targets, const ClientPtr& client) {
    onInjection([targets = std::move(targets), to = ClientRef(client)](HostServer& server) mutable {
        for (auto& target : targets) target = server.neighbours_.targets->resolvingPane(std::move(target));
        server.onMain([resolved = std::move(targets), to](HostServer& server) mutable {
            std::vector<std::string> names;
            std::vector<std::string> refusals;
            for (const auto& outcome : server.neighbours_.targets->addAll(std::move(resolved))) {
                if (const auto* stored = outcome.target()) names.push_back(stored->name);
                else refusals.push_back(*outcome.refusal());
            }
            if (!names.empty()) {
                server.note("Added " + joined(names));
                const std::string count = names.size() == 1 ? "" : std::to_string(names.size()) + ": ";
                server.reply(to, told(*server.neighbours_.targets, "Added " + count + joined(names)));
            }
            if (refusals.empty()) return;
            std::string text = refusals.front();
            if (refusals.size() > 1) text += " (+" + std::to_string(refusals.size() - 1) + " more)";
            server.reply(to, error(std::move(text)));
        });
    });
}

void HostServer::removeTarget(const std::string& id, const ClientPtr& client) {
    onMain([id, to = ClientRef(client)](HostServer& server) {
        const auto target = server.neighbours_.targets->target(id);
        if (!target) {
            server.reply(to, error("That target no longer exists"));
            return;
        }
        server.neighbours_.targets->remove({id});
        const std::string text = "Removed " + target->name;
        server.note(text);
        server.reply(to, told(*server.neighbours_.targets, text));
    });
}

void HostServer::reorderTargets(std::vector<std::string> ids) {
    onMain([ids = std::move(ids)](HostServer& server) { server.neighbours_.targets->setOrder(ids); });
}

// Without tmux the phone gets an empty list and the store is left alone; otherwise the store
// reconciles its tmux targets with the same listing once the phone has it. Repeats that come
// while a listing waits to start are answered by it.
void HostServer::requestPanes(const ClientPtr& client) {
    if (!client->panesRequest->join()) return;
    onPanes([to = ClientRef(client), request = client->panesRequest](HostServer& server) {
        (void)request->start();
        auto found = server.neighbours_.targets->listPanes();
        if (!found) {
            server.reply(to, HostMessage{HostMessage::Panes{}});
            return;
        }
        auto panes = std::move(*found);
        std::vector<TmuxPane> listed;
        for (const auto& pane : panes) listed.push_back(TmuxPane{pane.id, pane.spec, pane.command, pane.path});
        server.reply(to, HostMessage{HostMessage::Panes{std::move(listed)}});
        server.onMain([panes = std::move(panes)](HostServer& server) {
            server.neighbours_.targets->reconcile(panes, false, false, false);
        });
    });
}

}  // namespace quib
