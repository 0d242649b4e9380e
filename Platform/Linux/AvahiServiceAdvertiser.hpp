#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/ServiceAdvertiser.hpp"

namespace quib {

// Publishes the host's service through the Avahi daemon, on Avahi's own poll thread.
// Renames the service when another on the network has its name, registers it again when the
// daemon restarts, and, with no daemon at all, logs once and does nothing else.
class AvahiServiceAdvertiser final : public ServiceAdvertiser {
public:
    AvahiServiceAdvertiser();
    ~AvahiServiceAdvertiser() override;
    AvahiServiceAdvertiser(const AvahiServiceAdvertiser&) = delete;
    AvahiServiceAdvertiser& operator=(const AvahiServiceAdvertiser&) = delete;

    void advertise(const std::string& name, std::uint16_t port, const TxtRecord& txt) override;
    void withdraw() override;

    // The name the service is registered under now (it may differ from the name asked for
    // after a collision); absent until the daemon has confirmed the registration.
    std::optional<std::string> registeredName() const;

    // Cuts `text` to at most `maxBytes` bytes without splitting a UTF-8 sequence. Service names
    // are limited to 63 bytes and TXT entries to 255.
    static std::string fitUtf8(std::string text, std::size_t maxBytes);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quib
