// The pasteboard and keyboard half of the event injector.

#include <array>
#include <cstdio>
#include <memory>
#include <string_view>

#include "QuibHost/Targets/EventInjector.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {
namespace {

// The whole file, or none when it cannot be read (a folder included).
std::optional<Bytes> readFile(const std::filesystem::path& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return std::nullopt;
    Bytes bytes;
    std::array<std::uint8_t, 65536> chunk;
    while (const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), file.get())) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    }
    if (std::ferror(file.get())) return std::nullopt;
    return bytes;
}

// "file://" and the absolute path, with every byte outside the characters a URL path allows
// written as %XX.
std::string fileURL(const std::filesystem::path& path) {
    static constexpr std::string_view allowed = "!$&'()*+,-./:;=@_~";
    static constexpr char hex[] = "0123456789ABCDEF";
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    std::string url = "file://";
    for (const unsigned char c : (error ? path : absolute).string()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           allowed.find(static_cast<char>(c)) != std::string_view::npos;
        if (plain) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 0xF];
        }
    }
    return url;
}

std::uint64_t flagsOf(const KeyChord& chord) {
    std::uint64_t flags = 0;
    if (chord.control) flags |= EventFlags::control;
    if (chord.option) flags |= EventFlags::option;
    if (chord.shift) flags |= EventFlags::shift;
    if (chord.command) flags |= EventFlags::command;
    return flags;
}

}  // namespace

void EventInjector::paste(const std::string& text) {
    pasteWriting({PasteboardItem{}.set(PasteboardType::string, bytesOf(text))});
}

bool EventInjector::paste(const std::filesystem::path& image, AttachmentFrame::Format format) {
    auto bytes = readFile(image);
    if (!bytes) return false;
    PasteboardItem item;
    item.set(AttachmentFrame::typeIdentifier(format), std::move(*bytes));
    item.set(PasteboardType::fileURL, bytesOf(fileURL(image)));
    pasteWriting({std::move(item)});
    return true;
}

// The user's contents are saved before the first of a run of pastes, so a paste that follows
// another within the restore delay keeps what the user had, not what the first paste put there.
//
// A window that pastes only the desktop's selection (a plain xterm) gets the same contents there
// too, and that selection is put back like the pasteboard.
void EventInjector::pasteWriting(std::vector<PasteboardItem> items) {
    if (isPaused()) return;
    Pasteboard& pasteboard = *desktop_.pasteboard;
    Pasteboard* selection =
        desktop_.selection && desktop_.events->focusPastesSelection() ? desktop_.selection.get() : nullptr;
    std::int64_t generation = 0;
    {
        MutexLock lock(pasteboardLock_);
        generation = ++pasteGeneration_;
        if (!savedItems_) savedItems_ = pasteboard.items();
        if (selection && !savedSelection_) savedSelection_ = selection->items();
    }
    if (selection) {
        selection->write(items);
        const std::int64_t count = selection->changeCount();
        MutexLock lock(pasteboardLock_);
        selectionCount_ = count;
    }
    pasteboard.write(std::move(items));
    const std::int64_t changeCount = pasteboard.changeCount();
    sleeper_->sleep(keyPause);
    // Paused during the wait: the new contents stay, but no key is pressed.
    if (!isPaused()) postKeyEvents(vKeyCode, EventFlags::command);
    scheduleRestore(generation, changeCount);
}

void EventInjector::scheduleRestore(std::int64_t generation, std::int64_t changeCount) {
    (void)pasteboardQueue_->postAfter(pasteboardRestoreDelay, [weak = weak_from_this(), generation, changeCount] {
        if (auto injector = weak.lock()) injector->restore(generation, changeCount);
    });
}

// Only the last paste of a run restores, and only when nothing else has used the pasteboard
// since that paste: a copy made meanwhile is the user's and stays.
void EventInjector::restore(std::int64_t generation, std::int64_t changeCount) {
    MutexLock lock(pasteboardLock_);
    if (generation != pasteGeneration_) return;
    const auto putBack = [](Pasteboard& pasteboard, std::optional<std::vector<PasteboardItem>> saved,
                            std::int64_t count) {
        if (!saved || pasteboard.changeCount() != count) return;
        if (saved->empty()) pasteboard.clear();
        else pasteboard.write(std::move(*saved));
    };
    putBack(*desktop_.pasteboard, std::exchange(savedItems_, std::nullopt), changeCount);
    if (desktop_.selection) putBack(*desktop_.selection, std::exchange(savedSelection_, std::nullopt), selectionCount_);
}

void EventInjector::postKeyEvents(std::uint16_t keyCode, std::uint64_t flags) {
    desktop_.events->post(InputEvent::key(keyCode, true, flags));
    desktop_.events->post(InputEvent::key(keyCode, false, flags));
}

// A press that falls in a pause is skipped and the rest go on; the answer is still success.
TargetOutcome EventInjector::postKey(const KeyChord& chord, const std::string& name) {
    if (!isTrusted()) return {false, std::string(Permissions::accessibilityRefusal)};
    const auto keyCode = chord.macVirtualKey();
    if (!keyCode) return {false, chord.spoken() + std::string(unknownKeyText)};
    const std::uint64_t flags = flagsOf(chord);
    for (std::int64_t press = 0; press < chord.repeatCount; ++press) {
        if (press > 0) {
            sleeper_->sleep(keyPause);
            if (isPaused()) continue;
        }
        postKeyEvents(*keyCode, flags);
    }
    return {true, chord.spoken() + " \u2192 " + name};
}

}  // namespace quib
