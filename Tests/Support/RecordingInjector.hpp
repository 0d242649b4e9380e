#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Targets/EventInjectorService.hpp"

namespace quib::testing {

// Passes everything on to an injector, and records the calls the wake makes.
// A neighbour of the server for tests; its state is under a lock of its own, since the server calls
// it from the network queue and the main loop.
class RecordingInjector final : public EventInjectorService {
public:
    explicit RecordingInjector(std::shared_ptr<EventInjectorService> injector) : injector_(std::move(injector)) {}

    void move(double dx, double dy) override { injector_->move(dx, dy); }
    void point(Point to) override { injector_->point(to); }
    void click(MouseButton button, ClickPhase phase, std::int64_t count) override {
        injector_->click(button, phase, count);
    }
    void scroll(double dx, double dy) override { injector_->scroll(dx, dy); }
    void scroll(ScrollGesturePhase phase) override { injector_->scroll(phase); }
    void releaseAllButtons() override { injector_->releaseAllButtons(); }
    void release(const std::set<MouseButton>& held) override { injector_->release(held); }
    void resetScrollPhase() override { injector_->resetScrollPhase(); }
    void clearDisplayCache() override {
        record("clearDisplayCache");
        injector_->clearDisplayCache();
    }
    bool isPaused() const override { return injector_->isPaused(); }
    void setPaused(bool paused) override { injector_->setPaused(paused); }
    bool apiDisabled() const override { return injector_->apiDisabled(); }
    bool revalidateTrust() override {
        record("revalidateTrust");
        return injector_->revalidateTrust();
    }
    bool isTrusted() const override { return injector_->isTrusted(); }
    void paste(const std::string& text) override { injector_->paste(text); }
    bool paste(const std::filesystem::path& image, AttachmentFrame::Format format) override {
        return injector_->paste(image, format);
    }
    TargetOutcome postKey(const KeyChord& chord, const std::string& name) override {
        return injector_->postKey(chord, name);
    }
    void postKeyEvents(std::uint16_t keyCode, std::uint64_t flags) override {
        injector_->postKeyEvents(keyCode, flags);
    }
    void follow(const Rect& window) override { injector_->follow(window); }

    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void record(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::shared_ptr<EventInjectorService> injector_;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

}  // namespace quib::testing
