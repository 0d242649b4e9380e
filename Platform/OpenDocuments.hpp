#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quib {

// The documents other apps show, as the desktop's accessibility interface reports them. The
// vocabulary asks it which folder an app is working in.
class OpenDocuments {
public:
    virtual ~OpenDocuments() = default;

    // The URL of the document in the focused window of the process, as the app reports it (a
    // file's is "file://" and its percent-encoded path); none when that window shows no document,
    // the process has no window, or the desktop cannot tell. It may wait for the app to answer,
    // within a bound of the backend's; safe on any thread.
    virtual std::optional<std::string> documentURL(std::int64_t processID) = 0;
};

}  // namespace quib
